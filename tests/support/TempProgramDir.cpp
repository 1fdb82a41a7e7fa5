#include "tests/support/TempProgramDir.h"

#include <cstdlib>
#include <stdexcept>

namespace ornbrook::test {

TempProgramDir::TempProgramDir() : previousProgramDir_(ProgramDir) {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "ornbrook-test-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("cannot create a temporary directory");
    path_ = WithTrailingSlash(pattern);
    ProgramDir = path_;
}

void TempProgramDir::ReportAtOnce() const {
    WriteBytes(File("settle.dat"), "0\r\n");
}

TempProgramDir::~TempProgramDir() {
    ProgramDir = previousProgramDir_;
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string ReadBytes(const std::string& fileName) {
    std::ifstream in(fileName, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteBytes(const std::string& fileName, const std::string& bytes) {
    std::ofstream out(fileName, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

} // namespace ornbrook::test
