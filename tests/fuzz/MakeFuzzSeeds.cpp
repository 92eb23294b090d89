// Writes each named damaged wave file into the folder given, one file per row.
#include "audio/MalformedWaves.h"

#include <cstdio>
#include <string>

int main(int argc, char* argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    for (const MalformedWave& row : MalformedWaves()) {
        const std::string path = std::string(argv[1]) + "/" + row.name + ".wav";
        std::FILE* f = std::fopen(path.c_str(), "wb");
        if (!f || std::fwrite(row.bytes.data(), 1, row.bytes.size(), f) != row.bytes.size()) {
            std::fprintf(stderr, "cannot write %s\n", path.c_str());
            return 1;
        }
        std::fclose(f);
    }
    return 0;
}
