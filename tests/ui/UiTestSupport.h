#pragma once

#include "model/DataFileFormat.h"

#include <QLineEdit>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace ornbrook::test {

// One URL of a watch list written straight into maindata.dat.
UrlRecord Watched(std::string url, std::string error = {}, std::vector<FileEntry> entries = {});
void WriteWatchList(const std::vector<UrlRecord>& urls);

// Processes events until the condition holds or about five seconds have passed.
bool ProcessEventsUntil(const std::function<bool()>& condition);

// The open label editor of a list view's viewport, or none.
QLineEdit* OpenEditor(QWidget* viewport);

// A gate that holds a worker thread until the test opens it.
class Gate {
public:
    void Wait();
    void Open();

private:
    std::mutex mutex_;
    std::condition_variable opened_;
    bool open_ = false;
};

} // namespace ornbrook::test
