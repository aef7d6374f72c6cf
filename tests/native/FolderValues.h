// The program-wide folder values the path constants expand to, set to a
// machine of the tests' own for one test and put back afterwards.
#pragma once

#include <iterator>

#include "SetupFn.h"

class TTestFolderValues {
public:
    TTestFolderValues(const WideString& appTitle, const WideString& installDir)
        : saved_{ProgramFilesDir, DesktopDir,    CommonProgramsDir, UserProgramFilesDir,
                 UserProgramsDir, AppTitleValue, InstallDir},
          savedPerUser_(PerUserInstall)
    {
        ProgramFilesDir = u"C:\\Program Files";
        DesktopDir = u"C:\\Users\\zo\\Desktop\\";
        CommonProgramsDir = u"C:\\ProgramData\\Start Menu\\Programs\\";
        UserProgramFilesDir = u"C:\\Users\\zo\\AppData\\Local\\Programs";
        UserProgramsDir = u"C:\\Users\\zo\\AppData\\Roaming\\Start Menu\\Programs\\";
        AppTitleValue = appTitle;
        InstallDir = installDir;
        PerUserInstall = false;
    }
    ~TTestFolderValues()
    {
        WideString* values[] = {&ProgramFilesDir, &DesktopDir,    &CommonProgramsDir, &UserProgramFilesDir,
                                &UserProgramsDir, &AppTitleValue, &InstallDir};
        for (size_t i = 0; i < std::size(values); ++i) *values[i] = saved_[i];
        PerUserInstall = savedPerUser_;
    }
    TTestFolderValues(const TTestFolderValues&) = delete;
    TTestFolderValues& operator=(const TTestFolderValues&) = delete;

private:
    WideString saved_[7];
    bool savedPerUser_;
};
