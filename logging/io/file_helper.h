// TSiFileHelper: the names of rotated log files. For a base name D/N.E (directory, name and
// extension, each possibly empty) a rotating file protocol writes D/N-yyyy-mm-dd-hh-nn-ss.E,
// stamped with its creation time in UTC, and inserts "a" before the extension as often as
// needed to get a name that is free and sorts after the other files of the same second. These
// functions find such files again (oldest first, by name), pick the newest one to append to,
// and delete the oldest ones beyond a count.
//
// A file counts as one of the base name's rotated files when its name (without directory)
// starts with N followed by "-" (case-sensitive), ends with the extension E, and the first 19
// characters of what lies between, with the extension removed, are six groups of decimal digits
// separated by "-" that form a valid date and time. "a" suffixes are thereby ignored; a name
// with an impossible date (month 13), with N in another letter case or with another extension
// is never reused or deleted.
//
// Thread safety: stateless; safe from any thread, as far as the file system allows.
#pragma once

#include <cstddef>
#include <string>

#include "logging/base/datetime.h"

namespace deruz::logging {

class TSiStringList;

class TSiFileHelper {
  public:
    TSiFileHelper() = delete;

    // The file to open: with AAppend the newest rotated file when there is one, otherwise a new
    // name stamped with AUtcNow (ExpandFileName).
    static std::string GetFileName(const std::string& ABaseName, bool AAppend, TDateTime AUtcNow);
    // A new rotated file name stamped with AUtcNow that no file or directory has yet and that
    // sorts after every existing file of the same stamp (so that name order stays age order).
    static std::string ExpandFileName(const std::string& ABaseName, TDateTime AUtcNow);
    // The newest rotated file, or empty.
    static std::string FindFileName(const std::string& ABaseName);
    // Replaces AList by the rotated files of the base name, each with the base name's directory,
    // sorted by ordinal comparison of the names: oldest first.
    static void GetFiles(const std::string& ABaseName, TSiStringList& AList);
    // Deletes the oldest rotated files so that AKeep remain; deletions that fail are ignored.
    // AOpenFile (the file the caller has open) is never deleted: where the system refuses to
    // delete open files this changes nothing, elsewhere it keeps the log that is being written.
    static void DeleteFiles(const std::string& ABaseName, std::size_t AKeep,
                            const std::string& AOpenFile = std::string());

    // The creation time in a rotated file's name; raises ESiProtocolError "Invalid filename"
    // when APath is not one of the base name's rotated files.
    static TDateTime GetFileDate(const std::string& ABaseName, const std::string& APath);
    static bool IsValidFile(const std::string& ABaseName, const std::string& APath);
    static bool TryGetFileDate(const std::string& ABaseName, const std::string& APath,
                               TDateTime& ADate);
    // Reads "yyyy-mm-dd-hh-nn-ss": exactly six non-empty groups of decimal digits separated by
    // "-", forming an existing date and time.
    static bool TryParseFileDate(const std::string& AText, TDateTime& ADate);

    // AUtc as "yyyy-mm-dd-hh-nn-ss".
    static std::string FormatFileDate(TDateTime AUtc);
};

}  // namespace deruz::logging
