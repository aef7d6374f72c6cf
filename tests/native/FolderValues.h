// The program-wide folder values the path constants expand to, set to a
// machine of the tests' own for one test and put back afterwards.
#pragma once

#include "SetupFn.h"

class TTestFolderValues {
public:
    TTestFolderValues(const WideString& appTitle, const WideString& installDir)
        : saved_{ProgramFilesDir, DesktopDir, CommonProgramsDir, AppTitleValue, InstallDir}
    {
        ProgramFilesDir = u"C:\\Program Files";
        DesktopDir = u"C:\\Users\\zo\\Desktop\\";
        CommonProgramsDir = u"C:\\ProgramData\\Start Menu\\Programs\\";
        AppTitleValue = appTitle;
        InstallDir = installDir;
    }
    ~TTestFolderValues()
    {
        ProgramFilesDir = saved_[0];
        DesktopDir = saved_[1];
        CommonProgramsDir = saved_[2];
        AppTitleValue = saved_[3];
        InstallDir = saved_[4];
    }
    TTestFolderValues(const TTestFolderValues&) = delete;
    TTestFolderValues& operator=(const TTestFolderValues&) = delete;

private:
    WideString saved_[5];
};
