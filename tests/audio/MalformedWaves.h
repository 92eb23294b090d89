// Named rows of damaged and unusual wave files, with what the reader must make of each. Shared by the
// reader's tests and by the generator of the fuzzer's seed corpus.
#pragma once

#include "audio/TestWaves.h"

#include <string>
#include <vector>

struct MalformedWave
{
    std::string name;
    Bytes bytes;
    bool valid;
    std::uint32_t dataSize = 0;   // when valid
    std::uint32_t dataOffset = 0; // when valid
    std::uint16_t formatTag = 1;  // when valid
};

std::vector<MalformedWave> MalformedWaves();
