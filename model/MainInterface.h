#pragma once

#include "diag/Debug_Modul.h"
#include "diag/Event.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace ornbrook {

class UrlFileList;

// The watch list: the watched URLs in order, each with its UrlFileList. Loads
// maindata.dat when created and rewrites it after every change. URL indexes run
// from 1 to GetURLsCount; URLs are compared exactly.
class MainInterface final {
public:
    MainInterface();
    ~MainInterface();
    MainInterface(const MainInterface&) = delete;
    MainInterface& operator=(const MainInterface&) = delete;

    // Adds and checks a URL not in the list yet; returns its index either way.
    std::int32_t AddURL(const std::string& theURL);
    std::int32_t GetURLsCount() const;
    // Index 0 gives none; outside 0..count throws std::out_of_range.
    std::shared_ptr<UrlFileList> GetURL(std::int32_t Index) const;
    // 0 when the URL is not in the list.
    std::int32_t GetURLIndex(const std::string& theURL) const;
    void RemoveURL(const std::string& theURL);
    // Acknowledges all changes.
    void Refresh();
    void Cancel();
    void Clear();
    // Checks every URL once, in list order.
    void CheckFiles();
    // Rewrites maindata.dat; never leaves the user without one.
    void SaveData();
    void RaiseEvent_Change();
    // Tells the listener that a URL's check is about to run, so that it can show
    // the URL as being checked while the check runs.
    void RaiseEvent_CheckBegins(const UrlFileList& list);

    Event<> Change;
    Event<const UrlFileList&> CheckBegins;

    // The full name of the data file in the program directory.
    static std::string DataFileName();

private:
    void LoadData();

    LiveObject live_{"MainInterface"};
    // Slot 0 is always present and empty.
    std::vector<std::shared_ptr<UrlFileList>> Lists{nullptr};
    std::string saveBuffer_;
};

} // namespace ornbrook
