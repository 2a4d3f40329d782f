// PathString: an ordered list of paths held as one text.
//
// The system keeps several lists of paths as a single text with a separator
// between entries: a project's module files, the libraries that defined a
// module's classes, the folders of the module search path. Lists inside the
// language and in module files use ';'. Lists that live in the process
// environment use ':', as PATH does, so that TESSARO_PATH reads like every
// other search path of the platform.
//
// Invariants:
//  1. The text is normal: entries are trimmed of surrounding blanks (space,
//     tab, CR, LF), empty entries are dropped, and entries are joined by
//     exactly one separator, with none at either end. Setting any text gives
//     the normal text of its entries, so lists compare equal as texts when
//     they hold the same entries in the same order.
//  2. An entry never contains the separator. Whatever is added is read as a
//     list in its own right, so adding "a;b" adds two entries.
//
// An explicit path is an entry that names a folder: one that contains '/'.
// A bare file name is found through the module search path wherever the
// program runs; an explicit one ties the list to one machine's folders.
//
// EnvironmentPathString and RegistryEnvPathString hold the list kept in a
// variable. The second is the store's TESSARO_PATH: the process's own
// variable when the process has it (set, even to the empty text), else the
// value saved for the user in the environment file, a small text file
//
//     $XDG_CONFIG_HOME/tessaro/environment   (default ~/.config/...)
//
// of lines NAME=value. Blank lines and lines whose first non-blank character
// is '#' are comments. The last line of a name gives its value. Storing a
// variable rewrites the file through a temporary file and a rename, so a
// crash leaves the old file or the new one; other lines are kept as written.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tq {

class PathString {
public:
    static constexpr char kListSeparator = ';';

    explicit PathString(char separator = kListSeparator) : separator_(separator) {}
    explicit PathString(const char* text, char separator = kListSeparator);

    virtual ~PathString() = default;
    PathString(const PathString&) = default;
    PathString& operator=(const PathString&) = default;

    char separator() const { return separator_; }

    // The normal text of the list.
    const std::string& text() const { return text_; }
    const char* c_str() const { return text_.c_str(); }

    bool empty() const { return text_.empty(); }
    size_t count() const;

    // Entry i, or the empty text when i is not below count().
    std::string entry(size_t i) const;
    std::string operator[](size_t i) const { return entry(i); }

    // Replaces the list by the entries of text (null is the empty list).
    void set(const char* text);
    PathString& operator=(const char* text) {
        set(text);
        return *this;
    }

    void append(std::string_view entries);
    void prepend(std::string_view entries);

    // Whether an entry names the same path as `path`: compared as paths, so
    // "/a/b/" and "/a//b" match "/a/b", and case matters as it does to the
    // file system.
    bool contains(std::string_view path) const;

    // Removes every explicit path (see above), keeping bare file names.
    void PurgeExplicitPaths();

private:
    static std::string Normalise(std::string_view text, char separator);

    std::string text_;
    char separator_;
};

// The list held in the process environment variable `name`, ':'-separated;
// an unset variable is the empty list.
class EnvironmentPathString : public PathString {
public:
    static constexpr char kEnvSeparator = ':';

    explicit EnvironmentPathString(const char* name);

    const std::string& name() const { return name_; }

    // Stores the list in the process environment. Raises XException when the
    // environment cannot take it.
    virtual void SetVariable();

protected:
    EnvironmentPathString(const char* name, const char* value);

private:
    std::string name_;
};

// The list of a user-wide variable: the process environment first, then the
// environment file (see above).
class RegistryEnvPathString : public EnvironmentPathString {
public:
    explicit RegistryEnvPathString(const char* name);

    // Stores the list in the process environment and in the environment file.
    // The process environment is set first, so this process sees the new list
    // even when saving fails; a failure to save raises XException naming the
    // file and the reason, and leaves the file as it was.
    void SetVariable() override;

    // Where the user's environment file lives; empty when the user has no
    // home folder and XDG_CONFIG_HOME is not set.
    static std::string EnvironmentFilePath();

    // The value saved for name in the environment file, when it has one.
    static bool SavedValue(const char* name, std::string& value);
};

}  // namespace tq
