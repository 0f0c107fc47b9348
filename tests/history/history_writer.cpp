// One of the writers in the concurrency test: adds COUNT operation rows as
// WRITER, each with fields the test can check against its number.
#include <cstdio>
#include <string>

#include "writer_rows.h"

int main(int argc, char** argv) {
    if (argc != 4) return 2;
    kj::history::Store store{argv[1]};
    const std::string writer = argv[2];
    const int count = std::stoi(argv[3]);
    for (int i = 0; i < count; ++i) {
        const auto added = store.addOperation(kjtest::writerRow(writer, i));
        if (!added) {
            std::fprintf(stderr, "%s\n", added.error().c_str());
            return 1;
        }
    }
    return 0;
}
