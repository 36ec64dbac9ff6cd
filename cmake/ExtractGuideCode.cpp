// Writes the C++ blocks (```cpp) of a Markdown file as one file for a translation unit to
// include: the blocks' #include lines first, then the rest of the blocks, in order, inside
// namespace guide, each marked with its place in the Markdown file (#line), so that a compiler
// error points at the guide.
//   qz_extract_guide_code GUIDE.md OUT.inc

#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: qz_extract_guide_code GUIDE.md OUT.inc\n";
        return 64;
    }
    std::ifstream in(argv[1]);
    if (!in) {
        std::cerr << "cannot read " << argv[1] << "\n";
        return 1;
    }
    std::vector<std::string> includes;
    std::ostringstream code;
    std::string line;
    bool inBlock = false;
    int number = 0;
    int blocks = 0;
    while (std::getline(in, line)) {
        ++number;
        if (!inBlock) {
            if (line == "```cpp") {
                inBlock = true;
                ++blocks;
                code << "#line " << number + 1 << " \"" << argv[1] << "\"\n";
            }
            continue;
        }
        if (line == "```") {
            inBlock = false;
            continue;
        }
        if (line.rfind("#include", 0) == 0) {
            includes.push_back(line);
            code << "\n";  // keeps the line numbers
        } else {
            code << line << "\n";
        }
    }
    if (inBlock || blocks == 0) {
        std::cerr << argv[1] << ": "
                  << (inBlock ? "a ```cpp block is not closed" : "no ```cpp block") << "\n";
        return 1;
    }
    std::ofstream out(argv[2], std::ios::trunc);
    out << "// Generated from " << argv[1] << " by qz_extract_guide_code: do not edit.\n";
    for (const auto& include : includes) out << include << "\n";
    out << "\nnamespace guide {\n" << code.str() << "}  // namespace guide\n";
    return out ? 0 : 1;
}
