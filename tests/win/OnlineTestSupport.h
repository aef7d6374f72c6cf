// Shared pieces of the online-mode tests: a loopback HTTP server inside the
// test process, full packages made from a small DLL, and a download front end
// that records what the download tells it.
#pragma once

#include <windows.h>

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "OnlineSetup_win.h"
#include "TestSupport.h"
#include "ZoWinHandles_win.h"
#include "ZoWinText_win.h"

// Serves fixed answers on 127.0.0.1 from a thread, one request per connection.
class TLoopbackServer {
public:
    struct TAnswer {
        std::string status = "200 OK";
        std::string body;
        bool length = true;  // false: no Content-Length, the body ends with the connection
    };

    TLoopbackServer();
    ~TLoopbackServer();
    TLoopbackServer(const TLoopbackServer&) = delete;
    TLoopbackServer& operator=(const TLoopbackServer&) = delete;

    // Paths not set are answered 404.
    void Set(const std::string& path, TAnswer answer);
    WideString Url(const std::string& path) const;
    // The request targets received so far.
    std::vector<std::string> Requests() const;

private:
    void Serve();

    TUniqueSocket listener_;
    int port_ = 0;
    mutable std::mutex lock_;
    std::map<std::string, TAnswer> answers_;
    std::vector<std::string> requests_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// A DLL with the given RCDATA resources (name -> bytes as stored), as file bytes.
std::string ModuleBytes(const std::vector<std::pair<std::string, std::string>>& resources);
// A full package whose setup script has this application title.
std::string FullPackageBytes(const WideString& appTitle);

// Records what a download shows (a silent run's line among the infos);
// EndProcess throws TDownloadEnded.
struct TDownloadEnded {
    int code;
};

class TRecordingDownloadView : public TDownloadView {
public:
    bool silent = false;
    bool quitOnFailure = false;  // the answer of the failure window
    std::vector<std::pair<int32_t, int32_t>> progress;  // (maximum, position) after each event
    int pumps = 0;
    struct TFailure {
        WideString appTitle, url;
    };
    std::vector<TFailure> failures;
    std::vector<WideString> infos;
    int idlePages = 0;

    bool Silent() const override { return silent; }
    void SetProgressMax(int32_t maximum) override { progress.emplace_back(maximum, 0); }
    void SetProgressPosition(int32_t position) override
    {
        progress.emplace_back(progress.empty() ? -1 : progress.back().first, position);
    }
    void PumpMessages() override { ++pumps; }
    bool ShowDownloadFailure(const WideString& appTitle, const WideString& url) override
    {
        failures.push_back({appTitle, url});
        return quitOnFailure;
    }
    void ShowInfo(const WideString& text) override { infos.push_back(text); }
    void RestoreIdlePage() override { ++idlePages; }
    [[noreturn]] void EndProcess(int exitCode) override { throw TDownloadEnded{exitCode}; }

protected:
    void WriteLine(const WideString& line) override { infos.push_back(line); }
};

// What downloads left in the temporary folder: "{GUID}.exe" files and "zosetup-*" folders.
std::vector<WideString> TempPackages();

std::string Narrow(const WideString& s);
