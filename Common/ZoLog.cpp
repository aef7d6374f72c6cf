#include "ZoLog.h"

#include <cstdio>
#include <initializer_list>
#include <string_view>

#include "ZoPlatform.h"

namespace {

const char16_t* KindText(TLogEntry kind)
{
    switch (kind) {
    case TLogEntry::Step: return u"STEP ";
    case TLogEntry::File: return u"FILE ";
    case TLogEntry::Folder: return u"DIR  ";
    case TLogEntry::Registry: return u"REG  ";
    case TLogEntry::Shortcut: return u"LINK ";
    case TLogEntry::Ended: return u"END  ";
    case TLogEntry::Run: return u"RUN  ";
    case TLogEntry::Note: return u"NOTE ";
    case TLogEntry::Error: return u"ERROR";
    case TLogEntry::Exit: return u"EXIT ";
    }
    return u"NOTE ";
}

// A number of a time stamp: zero-padded to its width, then its separator (none where 0).
struct TStampPart {
    int Value;
    int Width;
    char16_t After;
};

// Appended to one string: a chain of + would build a temporary string per part.
void AppendStamp(WideString& out, std::initializer_list<TStampPart> parts)
{
    for (const TStampPart& part : parts) {
        WideString digits = IntToStr(part.Value);
        if (static_cast<int>(digits.size()) < part.Width) out.append(part.Width - digits.size(), u'0');
        out += digits;
        if (part.After) out += part.After;
    }
}

}  // namespace

WideString TZoLog::FileName(const WideString& product, const WideString& role, const TCalendarTime& t)
{
    WideString name = product.empty() ? WideString(u"zosetup") : product;
    for (char16_t& c : name)
        if (c < 32 || std::u16string_view(u"\\/:*?\"<>|").find(c) != std::u16string_view::npos) c = u'_';
    name += u' ';
    name += role;
    name += u' ';
    AppendStamp(name, {{t.year, 4, 0}, {t.month, 2, 0}, {t.day, 2, u'-'}, {t.hour, 2, 0}, {t.minute, 2, 0},
                       {t.second, 2, 0}});
    name += u".log";
    return name;
}

WideString TZoLog::Line(TLogEntry kind, const WideString& text, const TCalendarTime& t)
{
    WideString line;
    AppendStamp(line, {{t.year, 4, u'-'}, {t.month, 2, u'-'}, {t.day, 2, u' '}, {t.hour, 2, u':'},
                       {t.minute, 2, u':'}, {t.second, 2, u'.'}, {t.millisecond, 3, u' '}});
    line += KindText(kind);
    line += u' ';
    const size_t textStart = line.size();
    line += text;
    for (size_t i = textStart; i < line.size(); ++i)
        if (line[i] == u'\r' || line[i] == u'\n') line[i] = u' ';
    return line;
}

bool TZoLog::Open(const WideString& folder, const WideString& product, const WideString& role)
{
    Close();
    WideString dir = WithTrailingBackslash(folder);
    WideString name = FileName(product, role, DecodeDateTime(NowLocal()));
    WideString stem = name.substr(0, name.size() - 4);
    for (int n = 1; n < 100; ++n) {
        WideString path = n == 1 ? dir + name : Concat({dir, stem, u" (", IntToStr(n), u").log"});
        // Created new, so a file or link planted under the name is never
        // written through; a taken name means the next one.
        bool taken = false;
        file_.reset(ZoPlatform::CreateNewFile(path, taken));
        if (taken) continue;
        return Begin(path);
    }
    return false;
}

bool TZoLog::OpenAt(const WideString& path)
{
    Close();
    const WideString dir = DirPart(path);
    if (!dir.empty() && !DirExists(dir)) {
        try {
            ForceDirs(dir);
        } catch (const std::exception&) {
            return false;  // the open below cannot succeed either
        }
    }
    bool taken = false;
    file_.reset(ZoPlatform::CreateNewFile(path, taken));
    if (taken) {
        // An earlier log goes by its name (a link itself, never what it leads
        // to), and a new file takes its place; a folder of that name stays.
        if (ZoPlatform::RemoveFileName(path)) file_.reset(ZoPlatform::CreateNewFile(path, taken));
    }
    return Begin(path);
}

bool TZoLog::Begin(const WideString& path)
{
    if (!file_) return false;
    path_ = path;
    // The mark lets every editor, Notepad included, read the text as UTF-8.
    std::fwrite("\xEF\xBB\xBF", 1, 3, file_.get());
    std::fflush(file_.get());
    return true;
}

void TZoLog::Add(TLogEntry kind, const WideString& text)
{
    if (!file_) return;
    AnsiString bytes = ToUtf8(Line(kind, text, DecodeDateTime(NowLocal()))) + "\r\n";
    std::fwrite(bytes.data(), 1, bytes.size(), file_.get());
    std::fflush(file_.get());
}

void TZoLog::Close()
{
    file_.reset();
    path_.clear();
}

TZoLog& RunLog()
{
    static TZoLog log;
    return log;
}
