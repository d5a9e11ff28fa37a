// The code-table file from its text form: each record is four hex digits (the two bytes
// of one entry, most significant first) and one separator character.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "GbConvert.h"
#include "ReadUpTo.h"

namespace {

const size_t kRecordBytes = 5;
const size_t kDigitBytes = 4;

bool writeAll(int fd, const unsigned char* bytes, size_t size) {
    size_t done = 0;
    while (done < size) {
        const ssize_t put = write(fd, bytes + done, size - done);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        done += static_cast<size_t>(put);
    }
    return true;
}

// Two hex digits read as "0x" followed by them: digits up to the first other character.
unsigned char hexPair(const char* digits) {
    const char text[] = {'0', 'x', digits[0], digits[1], '\0'};
    return static_cast<unsigned char>(strtoul(text, nullptr, 16));
}

}  // namespace

int file_transcode(char* infile, char* outfile) {
    const int in = open(infile, O_RDONLY | O_CLOEXEC);
    if (in < 0) exit(1);
    const int out = open(outfile, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (out < 0) exit(2);
    char record[kRecordBytes];
    for (;;) {
        const ssize_t got = readUpTo(in, record, sizeof record);
        if (got < 0) exit(1);
        // A last record may lack its separator; one without its four digits gives nothing.
        if (got < static_cast<ssize_t>(kDigitBytes)) break;
        const unsigned char entry[2] = {hexPair(record), hexPair(record + 2)};
        if (!writeAll(out, entry, sizeof entry)) exit(3);
    }
    close(in);
    if (close(out) != 0) exit(3);
    return 0;
}
