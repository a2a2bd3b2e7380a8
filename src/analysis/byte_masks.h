#pragma once
// Classifying 64 bytes of text at once into one bit mask per byte kind, for
// the whole-text scanner: a plain, an SSE2, an AVX2 and an AVX-512 version.

#include <cstdint>

#include "analysis/text_scanner.h"

#ifdef __SSE2__
#include <emmintrin.h>
#endif
// The text scanner also comes built for AVX2 and AVX-512, taken when the CPU
// has them. Not on Windows: gcc there does not align the stack for 32-byte
// values.
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__)) && !defined(_WIN32)
#include <immintrin.h>
#define VARNHOLT_WIDE_SCAN 1
#endif

namespace varnholt_app {
namespace byte_masks {

// Bytes of one 64-byte block, one bit per byte. Left uninitialised on
// purpose: every classifier sets every field, and zeroing costs per block.
struct RawMasks {
  uint64_t events, blank, word, digit, keywordFirst;
  uint64_t openBrace, closeBrace, dot, ternary, paren, amp, pipe;
  uint64_t closeParen, openSquare, closeSquare;  // only where blocks come from indentation
};

#ifdef __SSE2__
inline void classify(const char* bytes, const ScanBytes& sb, RawMasks& r) {
  r = RawMasks{0, 0, 0, 0, ~0ull, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  for (int k = 0; k < 4; ++k) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + 16 * k));
    const auto eq = [&](char c) { return _mm_cmpeq_epi8(v, _mm_set1_epi8(c)); };
    const auto bits = [&](__m128i m) {
      return static_cast<uint64_t>(static_cast<uint16_t>(_mm_movemask_epi8(m))) << (16 * k);
    };
    const __m128i fromA = _mm_sub_epi8(_mm_or_si128(v, _mm_set1_epi8(0x20)), _mm_set1_epi8('a'));
    const __m128i alpha = _mm_cmpeq_epi8(_mm_min_epu8(fromA, _mm_set1_epi8(25)), fromA);
    const __m128i from0 = _mm_sub_epi8(v, _mm_set1_epi8('0'));
    const __m128i digit = _mm_cmpeq_epi8(_mm_min_epu8(from0, _mm_set1_epi8(9)), from0);
    r.events |= bits(_mm_or_si128(
        _mm_or_si128(_mm_or_si128(eq(sb.event[0]), eq(sb.event[1])), _mm_or_si128(eq(sb.event[2]), eq(sb.event[3]))),
        _mm_or_si128(eq(sb.event[4]), eq(sb.event[5]))));
    r.blank |= bits(_mm_or_si128(_mm_or_si128(eq(' '), eq('\t')), eq('\r')));
    r.word |= bits(_mm_or_si128(_mm_or_si128(alpha, digit), eq('_')));
    r.digit |= bits(digit);
    r.openBrace |= bits(eq('{'));
    r.closeBrace |= bits(eq('}'));
    r.dot |= bits(eq('.'));
    r.ternary |= bits(eq(sb.ternary));
    r.paren |= bits(eq('('));
    r.amp |= bits(eq('&'));
    r.pipe |= bits(eq('|'));
    if (sb.indentBlocks) {
      r.closeParen |= bits(eq(')'));
      r.openSquare |= bits(eq('['));
      r.closeSquare |= bits(eq(']'));
    }
  }
  if (!sb.boolOps) r.amp = r.pipe = 0;
}
#else
inline void classify(const char* bytes, const ScanBytes& sb, RawMasks& r) {
  r = RawMasks{0, 0, 0, 0, ~0ull, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  for (int i = 0; i < 64; ++i) {
    const char c = bytes[i];
    const uint64_t bit = uint64_t{1} << i;
    const auto set = [&](uint64_t& m, bool on) { m |= on ? bit : 0; };
    set(r.events, c == sb.event[0] || c == sb.event[1] || c == sb.event[2] || c == sb.event[3] ||
                      c == sb.event[4] || c == sb.event[5]);
    set(r.blank, c == ' ' || c == '\t' || c == '\r');
    const auto folded = static_cast<unsigned char>(c | 0x20);
    set(r.word, (folded >= 'a' && folded <= 'z') || (c >= '0' && c <= '9') || c == '_');
    set(r.digit, c >= '0' && c <= '9');
    set(r.openBrace, c == '{');
    set(r.closeBrace, c == '}');
    set(r.dot, c == '.');
    set(r.ternary, c == sb.ternary);
    set(r.paren, c == '(');
    set(r.amp, sb.boolOps && c == '&');
    set(r.pipe, sb.boolOps && c == '|');
    set(r.closeParen, sb.indentBlocks && c == ')');
    set(r.openSquare, sb.indentBlocks && c == '[');
    set(r.closeSquare, sb.indentBlocks && c == ']');
  }
}
#endif

#ifdef VARNHOLT_WIDE_SCAN
[[gnu::target("avx2"), gnu::always_inline]] inline __m256i eq32(__m256i v, char c) {
  return _mm256_cmpeq_epi8(v, _mm256_set1_epi8(c));
}

[[gnu::target("avx2"), gnu::always_inline]] inline __m256i or32(__m256i a, __m256i b) {
  return _mm256_or_si256(a, b);
}


#define VARNHOLT_AVX2 [[gnu::target("avx2"), gnu::always_inline]] inline
VARNHOLT_AVX2 uint64_t both32(__m256i lo, __m256i hi) {
  return static_cast<uint64_t>(static_cast<uint32_t>(_mm256_movemask_epi8(lo))) |
         static_cast<uint64_t>(static_cast<uint32_t>(_mm256_movemask_epi8(hi))) << 32;
}
VARNHOLT_AVX2 __m256i letters32(__m256i v) {
  const __m256i fromA = _mm256_sub_epi8(or32(v, _mm256_set1_epi8(0x20)), _mm256_set1_epi8('a'));
  return or32(_mm256_cmpeq_epi8(_mm256_min_epu8(fromA, _mm256_set1_epi8(25)), fromA), eq32(v, '_'));
}
VARNHOLT_AVX2 __m256i digits32(__m256i v) {
  const __m256i from0 = _mm256_sub_epi8(v, _mm256_set1_epi8('0'));
  return _mm256_cmpeq_epi8(_mm256_min_epu8(from0, _mm256_set1_epi8(9)), from0);
}
VARNHOLT_AVX2 __m256i events32(__m256i v, const ScanBytes& sb) {
  return or32(or32(or32(eq32(v, sb.event[0]), eq32(v, sb.event[1])), or32(eq32(v, sb.event[2]), eq32(v, sb.event[3]))),
              or32(eq32(v, sb.event[4]), eq32(v, sb.event[5])));
}
VARNHOLT_AVX2 __m256i blanks32(__m256i v) { return or32(or32(eq32(v, ' '), eq32(v, '\t')), eq32(v, '\r')); }
VARNHOLT_AVX2 __m256i table32(const uint8_t* t) {
  return _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(t)));
}
// Token starts that may begin a keyword, by their first two bytes: each
// candidate costs a guessed branch, and by its first byte alone most
// identifiers would be one.
VARNHOLT_AVX2 __m256i pairFits32(__m256i v, __m256i next, const ScanBytes& sb) {
  const __m256i nibble = _mm256_set1_epi8(0x0f);
  const __m256i low = _mm256_and_si256(v, nibble);
  const __m256i odd = eq32(_mm256_and_si256(v, _mm256_set1_epi8(0x10)), 0x10);  // high nibble 7
  const __m256i below8 = _mm256_blendv_epi8(_mm256_shuffle_epi8(table32(sb.secondBelow8[0]), low),
                                            _mm256_shuffle_epi8(table32(sb.secondBelow8[1]), low), odd);
  const __m256i from8 = _mm256_blendv_epi8(_mm256_shuffle_epi8(table32(sb.secondFrom8[0]), low),
                                           _mm256_shuffle_epi8(table32(sb.secondFrom8[1]), low), odd);
  const __m256i nextLow = _mm256_and_si256(next, nibble);
  const __m256i bit = _mm256_shuffle_epi8(_mm256_setr_epi8(1, 2, 4, 8, 16, 32, 64, -128, 1, 2, 4, 8, 16, 32, 64, -128,
                                                           1, 2, 4, 8, 16, 32, 64, -128, 1, 2, 4, 8, 16, 32, 64, -128),
                                          nextLow);
  const __m256i allowed = _mm256_blendv_epi8(below8, from8, eq32(_mm256_and_si256(next, _mm256_set1_epi8(8)), 8));
  return _mm256_xor_si256(_mm256_cmpeq_epi8(_mm256_and_si256(allowed, bit), _mm256_setzero_si256()),
                          _mm256_set1_epi8(-1));
}
#undef VARNHOLT_AVX2

// The same masks, 32 bytes at a time; reads one byte past the 64.
[[gnu::target("avx2")]] inline void classifyWide(const char* bytes, const ScanBytes& sb, RawMasks& r) {
  const __m256i lo = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes));
  const __m256i hi = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes + 32));
  const __m256i fold = _mm256_set1_epi8(0x20);
  const __m256i loNext = or32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes + 1)), fold);
  const __m256i hiNext = or32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes + 33)), fold);
  const __m256i digitLo = digits32(lo);
  const __m256i digitHi = digits32(hi);
  r.events = both32(events32(lo, sb), events32(hi, sb));
  r.blank = both32(blanks32(lo), blanks32(hi));
  r.word = both32(or32(letters32(lo), digitLo), or32(letters32(hi), digitHi));
  r.digit = both32(digitLo, digitHi);
  r.keywordFirst = both32(pairFits32(or32(lo, fold), loNext, sb), pairFits32(or32(hi, fold), hiNext, sb));
  r.openBrace = both32(eq32(lo, '{'), eq32(hi, '{'));
  r.closeBrace = both32(eq32(lo, '}'), eq32(hi, '}'));
  r.dot = both32(eq32(lo, '.'), eq32(hi, '.'));
  r.ternary = both32(eq32(lo, sb.ternary), eq32(hi, sb.ternary));
  r.paren = both32(eq32(lo, '('), eq32(hi, '('));
  r.amp = sb.boolOps ? both32(eq32(lo, '&'), eq32(hi, '&')) : 0;
  r.pipe = sb.boolOps ? both32(eq32(lo, '|'), eq32(hi, '|')) : 0;
  r.closeParen = sb.indentBlocks ? both32(eq32(lo, ')'), eq32(hi, ')')) : 0;
  r.openSquare = sb.indentBlocks ? both32(eq32(lo, '['), eq32(hi, '[')) : 0;
  r.closeSquare = sb.indentBlocks ? both32(eq32(lo, ']'), eq32(hi, ']')) : 0;
}

// The same masks 64 bytes at a time, where the CPU compares into bit masks
// directly: no mask has to be gathered from two halves.
#define VARNHOLT_AVX512_TARGET "avx512f,avx512bw,avx2,popcnt,bmi,bmi2"
#define VARNHOLT_AVX512 [[gnu::target(VARNHOLT_AVX512_TARGET), gnu::always_inline]] inline
VARNHOLT_AVX512 uint64_t eq64(__m512i v, char c) { return _mm512_cmpeq_epi8_mask(v, _mm512_set1_epi8(c)); }
// Bytes within `from`..`from + span`.
VARNHOLT_AVX512 uint64_t within64(__m512i v, char from, char span) {
  return _mm512_cmple_epu8_mask(_mm512_sub_epi8(v, _mm512_set1_epi8(from)), _mm512_set1_epi8(span));
}
// The 16-byte table in every lane (the masked form: gcc 12 warns on the other).
VARNHOLT_AVX512 __m512i lanes64(__m128i t) { return _mm512_maskz_broadcast_i32x4(0xffff, t); }
VARNHOLT_AVX512 __m512i table64(const uint8_t* t) {
  return lanes64(_mm_load_si128(reinterpret_cast<const __m128i*>(t)));
}
// pairFits32 for 64 bytes.
VARNHOLT_AVX512 uint64_t pairFits64(__m512i folded, __m512i next, const ScanBytes& sb) {
  const __m512i nibble = _mm512_set1_epi8(0x0f);
  const __m512i low = _mm512_and_si512(folded, nibble);
  const __mmask64 odd = _mm512_test_epi8_mask(folded, _mm512_set1_epi8(0x10));  // high nibble 7
  const __m512i below8 = _mm512_mask_blend_epi8(odd, _mm512_shuffle_epi8(table64(sb.secondBelow8[0]), low),
                                                _mm512_shuffle_epi8(table64(sb.secondBelow8[1]), low));
  const __m512i from8 = _mm512_mask_blend_epi8(odd, _mm512_shuffle_epi8(table64(sb.secondFrom8[0]), low),
                                               _mm512_shuffle_epi8(table64(sb.secondFrom8[1]), low));
  const __m512i allowed = _mm512_mask_blend_epi8(_mm512_test_epi8_mask(next, _mm512_set1_epi8(8)), below8, from8);
  const __m512i bit = _mm512_shuffle_epi8(
      lanes64(_mm_setr_epi8(1, 2, 4, 8, 16, 32, 64, -128, 1, 2, 4, 8, 16, 32, 64, -128)),
      _mm512_and_si512(next, nibble));
  return _mm512_test_epi8_mask(allowed, bit);
}
#undef VARNHOLT_AVX512

[[gnu::target(VARNHOLT_AVX512_TARGET)]] inline void classify512(const char* bytes, const ScanBytes& sb, RawMasks& r) {
  const __m512i v = _mm512_loadu_si512(bytes);
  const __m512i fold = _mm512_set1_epi8(0x20);
  const __m512i folded = _mm512_or_si512(v, fold);
  const __m512i next = _mm512_or_si512(_mm512_loadu_si512(bytes + 1), fold);
  r.events = eq64(v, sb.event[0]) | eq64(v, sb.event[1]) | eq64(v, sb.event[2]) | eq64(v, sb.event[3]) |
             eq64(v, sb.event[4]) | eq64(v, sb.event[5]);
  r.blank = eq64(v, ' ') | eq64(v, '\t') | eq64(v, '\r');
  r.digit = within64(v, '0', 9);
  r.word = within64(folded, 'a', 25) | r.digit | eq64(v, '_');
  r.keywordFirst = pairFits64(folded, next, sb);
  r.openBrace = eq64(v, '{');
  r.closeBrace = eq64(v, '}');
  r.dot = eq64(v, '.');
  r.ternary = eq64(v, sb.ternary);
  r.paren = eq64(v, '(');
  r.amp = sb.boolOps ? eq64(v, '&') : 0;
  r.pipe = sb.boolOps ? eq64(v, '|') : 0;
  r.closeParen = sb.indentBlocks ? eq64(v, ')') : 0;
  r.openSquare = sb.indentBlocks ? eq64(v, '[') : 0;
  r.closeSquare = sb.indentBlocks ? eq64(v, ']') : 0;
}
#endif

}  // namespace byte_masks
}  // namespace varnholt_app
