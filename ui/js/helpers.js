// ---------------------------------------------------------------- helpers
const $ = (id) => document.getElementById(id);
const utf8 = new TextEncoder();
const utf8Lenient = new TextDecoder('utf-8');  // invalid bytes become U+FFFD

function bytesToBase64(bytes) {
  let bin = '';
  for (let i = 0; i < bytes.length; i += 0x8000) {
    bin += String.fromCharCode.apply(null, bytes.subarray(i, i + 0x8000));
  }
  return btoa(bin);
}
const textToBase64 = (s) => bytesToBase64(utf8.encode(s));

// Lenient like the native side: stops at "=", skips foreign characters.
const B64_VALUE = new Int8Array(128).fill(-1);
'ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/'.split('').forEach((ch, i) => { B64_VALUE[ch.charCodeAt(0)] = i; });
function base64ToBytes(b64) {
  if (typeof b64 !== 'string' || b64 === '') return new Uint8Array(0);
  if (typeof Uint8Array.fromBase64 === 'function') {
    // The built-in decoder is much faster; it refuses anything unusual, which the loop below then handles.
    try { return Uint8Array.fromBase64(b64, { lastChunkHandling: 'loose' }); } catch (err) { /* fall through */ }
  }
  const out = new Uint8Array(((b64.length * 3) >> 2) + 3);
  let acc = 0, bits = 0, n = 0;
  for (let i = 0; i < b64.length; i++) {
    const c = b64.charCodeAt(i);
    if (c === 61) break;
    const v = c < 128 ? B64_VALUE[c] : -1;
    if (v < 0) continue;
    acc = ((acc << 6) | v) & 0xffffff;
    bits += 6;
    if (bits >= 8) { bits -= 8; out[n++] = (acc >> bits) & 255; }
  }
  return out.subarray(0, n);
}

function num(v, dflt = 0) {
  if (typeof v === 'number') return Number.isFinite(v) ? v : dflt;
  if (typeof v === 'string' && v.trim() !== '') { const n = Number(v); return Number.isFinite(n) ? n : dflt; }
  return dflt;
}
const clamp01 = (v) => (v > 0 ? (v < 1 ? v : 1) : 0);
const str = (v) => (typeof v === 'string' ? v : '');
const isSep = (c) => c === 47 || c === 92;

function lastSep(s) { return Math.max(s.lastIndexOf('/'), s.lastIndexOf('\\')); }
function lastComponent(p) { return p.slice(lastSep(p) + 1); }

// Length of the longest directory prefix shared by all paths; "/" and "\" count alike.
function commonRootLength(paths) {
  if (!paths.length) return 0;
  const p0 = paths[0];
  let len = lastSep(p0) + 1;
  let prefix = p0.slice(0, len);
  for (let i = 1; i < paths.length && len > 0; i++) {
    const p = paths[i];
    if (p.startsWith(prefix)) continue;
    const m = Math.min(len, p.length);
    let j = 0;
    while (j < m) {
      const a = p0.charCodeAt(j), b = p.charCodeAt(j);
      if (a !== b && !(isSep(a) && isSep(b))) break;
      j++;
    }
    if (j < len) {
      while (j > 0 && !isSep(p0.charCodeAt(j - 1))) j--;
      len = j;
      prefix = p0.slice(0, len);
    }
  }
  return len;
}

// The system's locale, unless it groups no digits (a "C" locale does not).
const numLocale = new Intl.NumberFormat(undefined).format(1234567).length > 7 ? undefined : 'en-US';
const numFmt = new Intl.NumberFormat(numLocale);
const num2Fmt = new Intl.NumberFormat(numLocale, { minimumFractionDigits: 2, maximumFractionDigits: 2 });
const fmtInt = (n) => numFmt.format(n);
const fmt2 = (v) => num2Fmt.format(Math.round(v * 100) / 100);
const pct = (v) => (v > 0 && v < 0.095 ? (v * 100).toFixed(1) : String(Math.round(v * 100))) + '%';
