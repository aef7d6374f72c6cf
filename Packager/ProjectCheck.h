// The packaging tool's strict reading of a project file. The installer reads
// its script leniently (a value that does not convert keeps its default); a
// project is checked here instead, so that a typing mistake is an error at its
// place, one line "PROJECT.xml:LINE:COLUMN: what is wrong", before anything is
// written.
#pragma once

#include "SetupProject.h"
#include "ZoTypes.h"
#include "ZoXmlUtils.h"

// A mistake in the project file at a place in it; what() is the whole line.
class EProjectError : public EPackageError {
public:
    EProjectError(const WideString& file, TXmlPosition at, const WideString& what);
};

// A project file read strictly: XML syntax, only the elements and attributes
// a setup script has, each value of its property's type, the root a
// TSetupScript. Keeps the document for the places of later checks.
class TProjectDocument {
public:
    // Raises EProjectError for a fault of the file, EPackageError when it cannot be read.
    explicit TProjectDocument(const WideString& file);

    // The script as the installer would load it from these bytes.
    void LoadInto(TSetupScript& script) const;

    // The elements of BaseInfo and of a list ("FileList", ...); null when the file has none.
    const TXmlNode* Element(const char* name) const;
    // The item elements of a list, in the order of its loaded items.
    std::vector<const TXmlNode*> Items(const char* listName) const;
    // An error at the element (at its attribute when it has one of that name;
    // at the root when node is null).
    [[noreturn]] void Fail(const TXmlNode* node, const char* attribute, const WideString& what) const;

private:
    TXmlPosition PlaceOf(const TXmlText& text, int back) const;
    WideString file_;
    TXmlDocument doc_;
};

// The checks of a loaded project whose variables are applied: download
// addresses the installer can fetch (http, https), no placeholder that is
// neither a variable nor a path constant, installed names Windows can hold.
// Raises EProjectError at the value's place.
void CheckProjectValues(const TProjectDocument& doc, const TSetupScript& script);

// Why the text is no version Windows can carry in a version resource: one to
// four parts of the digits 0-9, each 0 to 65535, between dots; empty when it
// is one (or empty: no version).
WideString VersionProblem(const WideString& version);

// Why Windows cannot hold a file or folder of this name (a character of
// <>:"/\|?* or a control character, a trailing dot or blank, a device name such
// as CON or COM1); empty when it can.
WideString WindowsNameProblem(const WideString& name);
// The same for each part of an installed path: a leading path constant, drive
// or server share, then names.
WideString InstallPathProblem(const WideString& path);
// The first placeholder ("{ap}") in the text that is not a path constant
// ({app}, {pf}, {group}, {desktop}, {srcexe}); empty when there is none.
// Braces around anything but a plain name (a GUID, say) are no placeholder.
WideString UnknownConstant(const WideString& text);
// The path constants, in the installer's own order.
extern const char16_t* const kPathConstants[5];
