#include "app/ProgramEntry.h"

int main(int argc, char** argv) {
    return ornbrook::RunProgram(argc, argv);
}
