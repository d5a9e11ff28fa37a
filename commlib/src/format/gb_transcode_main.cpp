// kova_gb_transcode <text table> <binary table>: builds the code-table file.
#include <cstdio>

#include "GbConvert.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: %s <text table> <binary table>\n", argv[0]);
        return 64;
    }
    return file_transcode(argv[1], argv[2]);
}
