#include "ftp/UrlFileListChecker.h"

#include "ftp/CheckRunner.h"

#include <stdexcept>

namespace ornbrook {

namespace {

// Takes the whole listing into names (after its slot 0); false when it failed.
bool CollectNames(SimpleFtpClient& client, std::vector<std::string>& names) {
    names.resize(1);
    std::string name;
    const std::int32_t find = client.GetFirstFile(name);
    if (find == 0)
        return !client.ListingFailed();
    do {
        names.push_back(std::move(name));
    } while (client.GetNextFile(find, name) != 0);
    return true;
}

} // namespace

UrlFileListChecker::UrlFileListChecker() : names_(1) {}

UrlFileListChecker::~UrlFileListChecker() = default;

std::int32_t UrlFileListChecker::GetFilesCount() const {
    return static_cast<std::int32_t>(names_.size() - 1);
}

std::string UrlFileListChecker::GetFile(std::int32_t Index) const {
    if (Index < 0 || static_cast<std::size_t>(Index) >= names_.size())
        throw std::out_of_range("UrlFileListChecker::GetFile: index " + std::to_string(Index));
    return names_[static_cast<std::size_t>(Index)];
}

void UrlFileListChecker::Clear() {
    names_.assign(1, std::string());
}

void UrlFileListChecker::ReleaseClient() {
    if (client_)
        client_->Cancel();
    client_.reset();
}

void UrlFileListChecker::Cancel() {
    ReleaseClient();
}

void UrlFileListChecker::CheckURL(const std::string& theURL) {
    url_ = theURL;
    parsedUrl_ = ParseURL(url_);
    Clear();
    ReleaseClient();
    client_ = std::make_unique<SimpleFtpClient>();

    // The blocking part may run on a worker thread: it touches only the client,
    // the names and these locals, and leaves the client disconnected.
    SimpleFtpClient& client = *client_;
    const FtpURL url = parsedUrl_;
    const bool confirmEmpty = confirmEmptyListing_;
    std::vector<std::string>& names = names_;
    std::string message;
    RunBlocking([&client, &url, confirmEmpty, &names, &message] {
        try {
            if (client.Connect(url.Host, url.Port, url.User, url.Pass) == 0) {
                message = "could not connect";
                return;
            }
            if (client.ChangeDir(url.Path) == 0) {
                message = "could not change dir";
            } else {
                bool listed = CollectNames(client, names);
                // Some servers answer 226 for a directory they failed to read.
                if (listed && names.size() == 1 && confirmEmpty)
                    listed = CollectNames(client, names);
                if (!listed) {
                    names.resize(1);
                    message = "could not list dir";
                }
            }
        } catch (const std::exception&) {
            names.resize(1);
            message = client.IsConnected() ? "could not list dir" : "could not connect";
        }
        client.Disconnect();
    });

    // A handler may cancel this checker and drop its owner's reference: nothing
    // of this object is touched after raising.
    if (message.empty())
        Ready.Raise();
    else
        Error.Raise(message);
}

} // namespace ornbrook
