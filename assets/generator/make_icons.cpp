// Writes the pointer icons and the application icon into the folder given.
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "assets/generator/icon_art.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output folder>\n", argv[0]);
        return 2;
    }
    const std::filesystem::path folder = argv[1];
    std::error_code ignored;
    std::filesystem::create_directories(folder, ignored);
    for (const vimbrel::art::IconFile& file : vimbrel::art::AllIconFiles()) {
        std::ofstream out(folder / file.name, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(file.bytes.data()), static_cast<std::streamsize>(file.bytes.size()));
        if (!out.flush()) {
            std::fprintf(stderr, "cannot write %s\n", (folder / file.name).string().c_str());
            return 1;
        }
    }
    return 0;
}
