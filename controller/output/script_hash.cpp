#include "controller/output/script_hash.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace hostsweep::controller {
namespace {

// FIPS 180-4's round constants and first hash value.
constexpr std::array<std::uint32_t, 64> kRounds{
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};
constexpr std::array<std::uint32_t, 8> kFirstHash{0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                                  0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
constexpr std::size_t kBlockBytes = 64;

using Digest = std::array<std::uint8_t, 32>;

void HashBlock(std::array<std::uint32_t, 8>& hash, const std::uint8_t* block) {
  std::array<std::uint32_t, 64> words{};
  for (std::size_t i = 0; i < 16; ++i) {
    words[i] = std::uint32_t{block[4 * i]} << 24U | std::uint32_t{block[4 * i + 1]} << 16U |
               std::uint32_t{block[4 * i + 2]} << 8U | block[4 * i + 3];
  }
  for (std::size_t i = 16; i < words.size(); ++i) {
    const std::uint32_t s0 =
        std::rotr(words[i - 15], 7) ^ std::rotr(words[i - 15], 18) ^ (words[i - 15] >> 3U);
    const std::uint32_t s1 =
        std::rotr(words[i - 2], 17) ^ std::rotr(words[i - 2], 19) ^ (words[i - 2] >> 10U);
    words[i] = words[i - 16] + s0 + words[i - 7] + s1;
  }
  auto [a, b, c, d, e, f, g, h] = hash;
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::uint32_t t1 = h + (std::rotr(e, 6) ^ std::rotr(e, 11) ^ std::rotr(e, 25)) +
                             ((e & f) ^ (~e & g)) + kRounds[i] + words[i];
    const std::uint32_t t2 =
        (std::rotr(a, 2) ^ std::rotr(a, 13) ^ std::rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
    h = g;
    g = f;
    f = e;
    e = d + t1;
    d = c;
    c = b;
    b = a;
    a = t1 + t2;
  }
  const std::array<std::uint32_t, 8> added{a, b, c, d, e, f, g, h};
  for (std::size_t i = 0; i < hash.size(); ++i) {
    hash[i] += added[i];
  }
}

Digest Sha256(std::string_view text) {
  std::vector<std::uint8_t> bytes(text.begin(), text.end());
  const std::uint64_t bits = std::uint64_t{text.size()} * 8;
  bytes.push_back(0x80);
  while (bytes.size() % kBlockBytes != kBlockBytes - 8) {
    bytes.push_back(0);
  }
  for (int shift = 56; shift >= 0; shift -= 8) {
    bytes.push_back(static_cast<std::uint8_t>(bits >> static_cast<unsigned>(shift)));
  }
  std::array<std::uint32_t, 8> hash = kFirstHash;
  for (std::size_t block = 0; block < bytes.size(); block += kBlockBytes) {
    HashBlock(hash, &bytes[block]);
  }
  Digest digest{};
  for (std::size_t i = 0; i < digest.size(); ++i) {
    digest[i] = static_cast<std::uint8_t>(hash[i / 4] >> (24U - 8U * (i % 4)));
  }
  return digest;
}

std::string Base64(const Digest& bytes) {
  constexpr std::string_view kDigits =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string text;
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    const std::size_t count = std::min<std::size_t>(3, bytes.size() - i);
    std::uint32_t group = 0;
    for (std::size_t j = 0; j < 3; ++j) {
      group = group << 8U | (j < count ? bytes[i + j] : 0U);
    }
    for (std::size_t j = 0; j < 4; ++j) {
      text += j <= count ? kDigits[(group >> (18U - 6U * j)) & 0x3FU] : '=';
    }
  }
  return text;
}

}  // namespace

std::string ScriptHashSource(std::string_view script) {
  return "'sha256-" + Base64(Sha256(script)) + "'";
}

}  // namespace hostsweep::controller
