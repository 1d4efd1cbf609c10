#pragma once

#include <QString>
#include <QStringList>
#include <optional>

namespace tunesift {

// The per-user settings store: text values under organization "Quorvane", application and group
// "Tunesift". Numbers are stored as decimal text, Booleans as "True" and "False". Nothing else in
// the program touches QSettings.
namespace settingskeys {
inline constexpr char kOrganization[] = "Quorvane";
inline constexpr char kApplication[] = "Tunesift";
inline constexpr char kGroup[] = "Tunesift";

inline constexpr char kExactFilename[] = "ExactFilename";
inline constexpr char kExactFilesize[] = "ExactFilesize";
inline constexpr char kSimilarFilename[] = "SimilarFilename";
inline constexpr char kExactTag[] = "ExactTag";
inline constexpr char kSimilarTag[] = "SimilarTag";
inline constexpr char kID3v2Titles[] = "ID3v2Titles";
inline constexpr char kExactAudio[] = "ExactAudio";
inline constexpr char kSimilarAudio[] = "SimilarAudio";
inline constexpr char kWindowState[] = "WindowState";
inline constexpr char kFormWidth[] = "FormWidth";
inline constexpr char kFormHeight[] = "FormHeight";
inline constexpr char kStop[] = "Stop";
// Which file "tick all but the best" keeps: the rules' names in the user's order, and those
// switched off (both comma-separated), then the folders the user marked.
inline constexpr char kKeepRuleOrder[] = "KeepRuleOrder";
inline constexpr char kKeepRulesOff[] = "KeepRulesOff";
inline constexpr char kPreferredFolders[] = "PreferredFolders";
inline constexpr char kProtectedFolders[] = "ProtectedFolders";
// "Also tick in groups found only by name, size or title" (off unless stored as true), and
// whether the user was asked which folder holds the copies to keep.
inline constexpr char kTickUnprovenGroups[] = "TickUnprovenGroups";
inline constexpr char kKeepFolderAsked[] = "KeepFolderAsked";
// The results list's columns: the widths the user dragged ("Header=twips" each) and the tag
// columns shown (their headers).
inline constexpr char kResultColumnWidths[] = "ResultColumnWidths";
inline constexpr char kResultTagColumns[] = "ResultTagColumns";
// The main window's folder list, entry by entry in its order, and the folder the user added last
// (where the folder dialog opens).
inline constexpr char kFolders[] = "Folders";
inline constexpr char kLastAddedFolder[] = "LastAddedFolder";
} // namespace settingskeys

// One store per thread: QSettings objects of one process see each other's writes at once.
class SettingsStore
{
public:
    SettingsStore();
    ~SettingsStore();
    SettingsStore(const SettingsStore&) = delete;
    SettingsStore& operator=(const SettingsStore&) = delete;

    // The stored text; nothing when the key was never written.
    std::optional<QString> text(const char* key) const;
    void setText(const char* key, const QString& value);

    // The text read as a 16-bit signed number; nothing when missing, not a whole number or out
    // of range.
    std::optional<qint16> readInt16(const char* key) const;
    void writeNumber(const char* key, qint64 value);

    // "True" (any letter case) and non-zero numbers are true; anything else is false.
    bool readBool(const char* key) const;
    void writeBool(const char* key, bool value);

    // A list of texts (folder paths may hold any character, so no separator of ours is safe).
    QStringList textList(const char* key) const;
    void setTextList(const char* key, const QStringList& values);

    void sync();

private:
    struct Impl;
    Impl* m_impl;
};

} // namespace tunesift
