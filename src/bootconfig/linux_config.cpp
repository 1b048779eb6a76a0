#include "bootconfig/linux_config.h"

#include <algorithm>
#include <cctype>

namespace {

// Rows of a hostile file: the rest is not read.
constexpr size_t MaxLines = 16384;
constexpr size_t MaxFstabEntries = 1024;
constexpr size_t MaxInitrds = 64;

struct NamePrefix {
    const char* prefix;
    VolumeNameBy by;
};

const NamePrefix NamePrefixes[] = {
    {"UUID=", VolumeNameBy::Uuid},
    {"PARTUUID=", VolumeNameBy::PartUuid},
    {"LABEL=", VolumeNameBy::Label},
    {"/dev/", VolumeNameBy::Device},
};

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

std::string Unquoted(const std::string& text) {
    if (text.size() >= 2 && (text.front() == '"' || text.front() == '\'') &&
        text.back() == text.front())
        return text.substr(1, text.size() - 2);
    return text;
}

// fstab's \040 and the like: a blank in a label.
std::string Unescaped(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        const bool octal = text[i] == '\\' && i + 3 < text.size() && text[i + 1] >= '0' &&
                           text[i + 1] <= '3' && text[i + 2] >= '0' && text[i + 2] <= '7' &&
                           text[i + 3] >= '0' && text[i + 3] <= '7';
        if (octal) {
            out += static_cast<char>((text[i + 1] - '0') * 64 + (text[i + 2] - '0') * 8 +
                                     (text[i + 3] - '0'));
            i += 3;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::vector<std::string> SplitBlanks(const std::string& line) {
    std::vector<std::string> words;
    std::string word;
    for (char c : line + " ") {
        if (c == ' ' || c == '\t' || c == '\r') {
            if (!word.empty())
                words.push_back(word);
            word.clear();
        } else {
            word += c;
        }
    }
    return words;
}

// The lines of a text without comments and blank lines, at most MaxLines.
std::vector<std::string> MeaningfulLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t at = 0;
    const std::string read = text.substr(0, LinuxConfigMaxBytes);
    while (at < read.size() && lines.size() < MaxLines) {
        size_t end = read.find('\n', at);
        if (end == std::string::npos)
            end = read.size();
        std::string line = read.substr(at, end - at);
        at = end + 1;
        const size_t start = line.find_first_not_of(" \t\r");
        if (start != std::string::npos && line[start] != '#')
            lines.push_back(line.substr(start));
    }
    return lines;
}

// "key value...": the key, and the rest without its surrounding blanks.
void SplitKey(const std::string& line, std::string* key, std::string* value) {
    const size_t blank = line.find_first_of(" \t");
    *key = line.substr(0, blank);
    const size_t start = blank == std::string::npos ? blank : line.find_first_not_of(" \t", blank);
    *value = start == std::string::npos ? "" : line.substr(start);
    while (!value->empty() &&
           (value->back() == ' ' || value->back() == '\t' || value->back() == '\r'))
        value->pop_back();
}

std::string RootArgument(const std::string& options) {
    std::string root;
    for (const std::string& word : SplitBlanks(options))
        if (StartsWith(word, "root="))
            root = word.substr(5);
    return root;
}

bool HasOption(const std::string& options, const std::string& wanted) {
    size_t at = 0;
    while (at <= options.size()) {
        size_t comma = options.find(',', at);
        if (comma == std::string::npos)
            comma = options.size();
        if (options.compare(at, comma - at, wanted) == 0)
            return true;
        at = comma + 1;
    }
    return false;
}

char Lower(char c) {
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

} // namespace

VolumeName ParseVolumeName(const std::string& text) {
    VolumeName name;
    name.text = text;
    if (text.empty())
        return name;
    name.by = VolumeNameBy::Other;
    name.value = text;
    for (const NamePrefix& row : NamePrefixes)
        if (StartsWith(text, row.prefix)) {
            name.by = row.by;
            name.value = row.by == VolumeNameBy::Device
                             ? text
                             : Unescaped(Unquoted(text.substr(std::string(row.prefix).size())));
        }
    return name;
}

LoaderConf ParseLoaderConf(const std::string& text) {
    LoaderConf conf;
    for (const std::string& line : MeaningfulLines(text)) {
        std::string key, value;
        SplitKey(line, &key, &value);
        if (key == "default")
            conf.defaultPattern = value;
        else if (key == "timeout")
            conf.timeout = value;
    }
    return conf;
}

// The keys of an entry kept as they are written.
struct EntryKey {
    const char* key;
    std::string LoaderEntry::*field;
};

const EntryKey EntryKeys[] = {
    {"title", &LoaderEntry::title},
    {"version", &LoaderEntry::version},
    {"linux", &LoaderEntry::linux},
    {"efi", &LoaderEntry::efi},
};

LoaderEntry ParseLoaderEntry(const std::string& file, const std::string& text) {
    LoaderEntry entry;
    entry.file = file;
    std::string options;
    for (const std::string& line : MeaningfulLines(text)) {
        std::string key, value;
        SplitKey(line, &key, &value);
        for (const EntryKey& row : EntryKeys)
            if (key == row.key)
                entry.*row.field = value;
        if (key == "initrd" && entry.initrds.size() < MaxInitrds)
            entry.initrds.push_back(value);
        if (key == "options")
            options += " " + value;
    }
    entry.rootArgument = RootArgument(options);
    return entry;
}

// Iterative: the last '*' seen is where a mismatch goes back to.
bool MatchesGlob(const std::string& pattern, const std::string& name) {
    size_t p = 0, n = 0, star = std::string::npos, resume = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || Lower(pattern[p]) == Lower(name[n]))) {
            ++p, ++n;
        } else if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            resume = n;
        } else if (star != std::string::npos) {
            p = star + 1;
            n = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

const LoaderEntry* DefaultLoaderEntry(const LoaderConf& conf, std::vector<LoaderEntry>& entries) {
    std::sort(entries.begin(), entries.end(),
              [](const LoaderEntry& a, const LoaderEntry& b) { return a.file > b.file; });
    if (entries.empty())
        return nullptr;
    const std::string& pattern = conf.defaultPattern;
    for (const LoaderEntry& entry : entries) {
        const std::string stem = entry.file.substr(0, entry.file.size() - 5);
        if (!pattern.empty() && (MatchesGlob(pattern, entry.file) || MatchesGlob(pattern, stem)))
            return &entry;
    }
    return &entries.front();
}

std::vector<FstabEntry> ParseFstab(const std::string& text) {
    std::vector<FstabEntry> entries;
    for (const std::string& line : MeaningfulLines(text)) {
        const std::vector<std::string> words = SplitBlanks(line);
        if (words.size() < 2 || entries.size() >= MaxFstabEntries)
            continue;
        FstabEntry entry;
        entry.source = ParseVolumeName(words[0]);
        entry.mountPoint = Unescaped(words[1]);
        entry.type = words.size() > 2 ? words[2] : "";
        const std::string options = words.size() > 3 ? words[3] : "";
        entry.mayFail = HasOption(options, "nofail") || HasOption(options, "noauto");
        entries.push_back(entry);
    }
    return entries;
}
