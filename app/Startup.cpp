#include "app/Startup.h"

#include "base/FileIO_Code.h"
#include "base/NumberText.h"
#include "base/ProgramGlobals.h"
#include "base/Text_Code.h"
#include "diag/Debug_Modul.h"
#include "model/MainInterface_Modul.h"
#include "platform/Timer_Modul.h"
#include "ui/CheckPump.h"
#include "ui/MainForm.h"

#include <QApplication>
#include <QPointer>
#include <QWidget>

namespace ornbrook {

namespace {
std::vector<std::string> programArguments;
QPointer<MainForm> mainForm;

// Hidden host windows of the socket classes stay with their owners at shutdown.
bool IsSocketHost(const QWidget* w) {
    return w->property("ornbrookSocketHost").toBool();
}
} // namespace

void SetProgramArguments(std::vector<std::string> args) {
    programArguments = std::move(args);
}

const std::vector<std::string>& ProgramArguments() {
    return programArguments;
}

void InitConstants() {
    LineBreak = "\r\n";
    ProgramDir = ProgramDirectory();
    StartCounterFile = ProgramDir + "Ornbrook" + ".v" + "0.1" + ".startcounter";
}

void ParseCommandLine() {
    ParseCommandLine(programArguments);
}

void ParseCommandLine(const std::vector<std::string>& args) {
    for (std::string token : args) {
        // Arguments of the headless mode never match a switch.
        if (token.empty() || token.starts_with("--"))
            continue;
        if (token[0] == '\\' || token[0] == '-' || token[0] == '/')
            token = TrimSpaces(token.substr(1));
        const std::string upper = UpperCase(token);
        if (StartsWith(upper, "DEBUGFILE")) {
            EnableDebugFile();
        } else if (StartsWith(upper, "DEBUG")) {
            ShowDebugForm();
        } else if (StartsWith(upper, "LOG")) {
            // A level beyond 16 bits cannot be meant: it leaves the level as it is.
            if (const auto level = ToInt16(TextToNumber(token.size() > 3 ? token.substr(3) : "")))
                SetLogLevel(*level);
        } else if (StartsWith(upper, "PROZESSINFO")) {
            EnableProzessInfo();
        }
    }
}

void CountStart() {
    if (ReadFirstLine(StartCounterFile, "0") == "0") {
        WriteLog("first start");
        WriteText(StartCounterFile, "1");
        return;
    }
    const double count = TextToNumber(ReadFirstLine(StartCounterFile, ""));
    WriteText(StartCounterFile, NumberToText(count + 1));
}

void Main() {
    Unloading = false;
    DebugActive = true;
    InitConstants();
    InitDebug();
    InitTimers();
    ShowDebugForm();
    SetLogLevel(1);
    ParseCommandLine();
    CreateMainInterface();
    // Check results are merged on this thread, whatever window shows them.
    InstallCheckPump(TheMainInterface);
    WriteLog("Programmstart");
    CountStart();
    WriteLog("LoadStandard");
    WriteLog("loading MainForm ...");
    mainForm = new MainForm(&ShutDown);
    mainForm->setAttribute(Qt::WA_DeleteOnClose);
    mainForm->Form_Load();
    WriteLog("loading ready");
    WriteLog("ready to show me");
    mainForm->show();
    WriteLog("Start-Prozess ready");
}

void BringMainWindowToFront() {
    if (mainForm)
        mainForm->BringToFront();
}

void ShutDown() {
    WriteLog("Unloading now...");
    Unloading = true;
    DestroyMainInterface();
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (!IsSocketHost(window) && window->isVisible())
            window->close();
    }
    WriteLog("Exit");
    QCoreApplication::quit();
}

} // namespace ornbrook
