// Turns a fuzzer's bytes into wide text: each byte below 0xF0 is one
// character; a byte from 0xF0 on and the byte after it make one character
// from U+0100 up, so that inputs reach characters beyond Latin-1 too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

inline std::wstring WideFromBytes(const uint8_t* data, size_t size) {
  std::wstring text;
  for (size_t i = 0; i < size; ++i) {
    if (data[i] >= 0xF0 && i + 1 < size) {
      text += static_cast<wchar_t>(0x100 + ((data[i] & 0x0F) << 8) + data[i + 1]);
      ++i;
    } else {
      text += static_cast<wchar_t>(data[i]);
    }
  }
  return text;
}
