// One check of the URL given, as the watcher does it; prints the number of names.
#include "ftp/UrlFileListChecker.h"

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2)
        return 2;
    ornbrook::UrlFileListChecker checker;
    int status = 1;
    checker.Ready.Connect([&] {
        std::printf("%d\n", checker.GetFilesCount());
        status = 0;
    });
    checker.Error.Connect([](const std::string& message) { std::printf("%s\n", message.c_str()); });
    checker.CheckURL(argv[1]);
    return status;
}
