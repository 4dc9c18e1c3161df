#pragma once
// A well-formed report descriptor built from choice bytes, with the report
// lengths it must give counted by brute force from the items put in: per
// report ID and main item type the bits of every item, rounded up to bytes,
// one byte for the ID, the largest ID winning, 65535 at most.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <map>
#include <utility>
#include <vector>

namespace calorix::fuzz {

struct TBuiltDescriptor {
  std::vector<uint8_t> Bytes;
  uint16_t Lengths[3] = {0, 0, 0};  // input, output, feature
  bool Numbered = false;
};

// Every two bytes choose one item and its value.
inline TBuiltDescriptor BuildDescriptor(const uint8_t* choices, size_t size) {
  struct TState {
    uint32_t Size = 0, Count = 0;
    uint8_t Id = 0;
  };
  TBuiltDescriptor d;
  std::map<std::pair<int, int>, uint64_t> bits;  // (type, ID): bits
  std::vector<TState> stack;
  TState s;
  auto put = [&d](std::initializer_list<uint8_t> item) {
    d.Bytes.insert(d.Bytes.end(), item.begin(), item.end());
  };
  for (size_t i = 0; i + 1 < size; i += 2) {
    const uint8_t v = choices[i + 1];
    switch (choices[i] % 10) {
      case 0:
        s.Size = v % 33u;
        put({0x75, uint8_t(s.Size)});
        break;
      case 1:
        s.Count = v;
        put({0x95, v});
        break;
      case 2:
        if (v == 0)
          break;  // not a valid ID
        s.Id = v;
        d.Numbered = true;
        put({0x85, v});
        break;
      case 3:
      case 4:
      case 5: {
        const int type = choices[i] % 10 - 3;
        static constexpr uint8_t kMain[3] = {0x81, 0x91, 0xB1};
        put({kMain[type], v});
        bits[{type, s.Id}] += uint64_t(s.Size) * s.Count;
        break;
      }
      case 6:
        if (stack.size() < 32) {
          stack.push_back(s);
          put({0xA4});
        }
        break;
      case 7:
        if (!stack.empty()) {
          s = stack.back();
          stack.pop_back();
          put({0xB4});
        }
        break;
      case 8:
        put({0x09, v});  // a usage: no bits
        break;
      default:
        put(v & 1 ? std::initializer_list<uint8_t>{0xA1, 0x01}
                  : std::initializer_list<uint8_t>{0xC0});
        break;
    }
  }
  for (const auto& [key, n] : bits) {
    const uint64_t bytes = std::min<uint64_t>((n + 7) / 8 + 1, 0xFFFF);
    d.Lengths[key.first] = std::max(d.Lengths[key.first], uint16_t(bytes));
  }
  return d;
}

}  // namespace calorix::fuzz
