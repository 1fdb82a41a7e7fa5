// Lists one SFTP folder as a whole process would: for measuring against
// OpenSSH's sftp (see measure_listing.py); not a test.
//   sftp_list_probe HOST PORT USER PATH TRUSTFILE
#include "sftp/SftpListing.h"

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    using namespace ornbrook;
    if (argc != 6) {
        std::fprintf(stderr, "usage: sftp_list_probe HOST PORT USER PATH TRUSTFILE\n");
        return 2;
    }
    const SftpTarget target{argv[1], std::atoi(argv[2]), argv[3], "", argv[5]};
    const auto outcome = ListSftpDirectory(target, argv[4], std::chrono::seconds(120), nullptr);
    if (!outcome.Ok) {
        std::fprintf(stderr, "%s\n", outcome.Message.c_str());
        return 1;
    }
    std::printf("%zu\n", outcome.Entries.size());
    return 0;
}
