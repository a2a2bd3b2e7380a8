#pragma once
// The JSON, Base64 and text helpers behind every message exchanged with the
// page and every report varnholt-report writes. There is no JSON parser: outbound messages are concatenated, inbound
// ones are searched for single string members.

#include <cstdint>
#include <string>
#include <string_view>

namespace varnholt_app {

// Escapes UTF-8 bytes for use between the quotes of a JSON string. Valid
// UTF-8 passes unchanged; each maximal ill-formed subsequence becomes U+FFFD,
// as utf8ToWide would make it, so the result is always valid UTF-8.
std::string jsonEscape(std::string_view text);
void appendJsonEscaped(std::string& out, std::string_view text);

// A JSON string: the text escaped as above, between quotes. Every string
// any message or report writes goes through here.
void appendJsonString(std::string& out, std::string_view text);

// The shortest text that reads back as exactly `value` (std::to_chars); a
// non-finite value is written as 0 so that JSON stays valid.
void appendShortest(std::string& out, double value);

// Every byte for which `plain` is false as "%XX" (upper-case hex).
void appendPercentEncoded(std::string& out, std::string_view bytes, bool (*plain)(unsigned char));

// Standard Base64 with padding and no line breaks.
std::string base64Encode(std::string_view bytes);
void appendBase64(std::string& out, std::string_view bytes);

// Lenient decoding: characters outside the alphabet are skipped, the first
// "=" ends the input, leftover bits are dropped. Never fails.
std::string base64Decode(std::string_view text);

// UTF-8 to UTF-16; ill-formed input becomes U+FFFD.
std::u16string utf8ToWide(std::string_view text);

// The string value of the first `"key"` of a page command (UTF-8 JSON),
// found by plain text search. Escapes are not interpreted and every UTF-16
// unit of the value is reduced to 7 bits, as the command reader has always
// read it; anything unexpected gives an empty result.
std::string extractJsonString(std::string_view message, std::string_view key);

// Fixed notation with exactly `decimals` digits after a "." whatever the
// locale, rounded like printf("%.*f"). Non-finite values are written as 0
// so that the message stays valid JSON.
void appendFixed(std::string& out, double value, int decimals);
std::string formatFixed(double value, int decimals);

void appendInt(std::string& out, int64_t value);

}  // namespace varnholt_app
