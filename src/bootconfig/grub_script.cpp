#include "bootconfig/grub_script.h"

#include <cctype>
#include <cstring>
#include <map>

namespace {

// Bounds of a hostile script: commands, words of one command, menu rows,
// blocks open at once.
constexpr size_t MaxCommands = 100000;
constexpr size_t MaxWords = 256;
constexpr size_t MaxItems = 1024;
constexpr size_t MaxSearches = 1024;
constexpr size_t MaxInitrds = 64;
constexpr size_t MaxDepth = 64;

// $root expands to this mark, which a path resolves to the $root of its command.
const char RootMark = '\x01';

using Variables = std::map<std::string, std::string>;

// One command's words, variables expanded, as GRUB's lexer splits them.
struct Lexer {
    const std::string& text;
    const Variables& variables;
    size_t at = 0;
};

bool IsNameChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
}

std::string Expand(Lexer& lex) {
    const std::string& t = lex.text;
    ++lex.at; // '$'
    std::string name;
    if (lex.at < t.size() && t[lex.at] == '{') {
        const size_t close = t.find('}', lex.at);
        if (close == std::string::npos) {
            lex.at = t.size();
            return "";
        }
        name = t.substr(lex.at + 1, close - lex.at - 1);
        lex.at = close + 1;
    } else {
        while (lex.at < t.size() && IsNameChar(t[lex.at]))
            name += t[lex.at++];
        if (name.empty())
            return "$";
    }
    auto it = lex.variables.find(name);
    return it == lex.variables.end() ? "" : it->second;
}

void ReadSingleQuoted(Lexer& lex, std::string& word) {
    const size_t close = lex.text.find('\'', lex.at + 1);
    const size_t end = close == std::string::npos ? lex.text.size() : close;
    word.append(lex.text, lex.at + 1, end - lex.at - 1);
    lex.at = end + 1;
}

void ReadDoubleQuoted(Lexer& lex, std::string& word) {
    const std::string& t = lex.text;
    ++lex.at;
    while (lex.at < t.size() && t[lex.at] != '"') {
        const char c = t[lex.at];
        if (c == '$') {
            word += Expand(lex);
        } else if (c == '\\' && lex.at + 1 < t.size() && std::strchr("$\"\\\n", t[lex.at + 1])) {
            if (t[lex.at + 1] != '\n')
                word += t[lex.at + 1];
            lex.at += 2;
        } else {
            word += c;
            ++lex.at;
        }
    }
    ++lex.at;
}

bool EndsWord(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == ';';
}

// A word from lex.at, which is no blank; false when it is a comment.
bool ReadWord(Lexer& lex, std::string& word) {
    const std::string& t = lex.text;
    if (t[lex.at] == '#') {
        const size_t end = t.find('\n', lex.at);
        lex.at = end == std::string::npos ? t.size() : end;
        return false;
    }
    while (lex.at < t.size() && !EndsWord(t[lex.at])) {
        const char c = t[lex.at];
        if (c == '\'') {
            ReadSingleQuoted(lex, word);
        } else if (c == '"') {
            ReadDoubleQuoted(lex, word);
        } else if (c == '$') {
            word += Expand(lex);
        } else if (c == '\\' && lex.at + 1 < t.size()) {
            if (t[lex.at + 1] != '\n')
                word += t[lex.at + 1];
            lex.at += 2;
        } else {
            word += c;
            ++lex.at;
        }
    }
    return true;
}

// The next command's words; false at the end of the text.
bool NextCommand(Lexer& lex, std::vector<std::string>& words) {
    words.clear();
    const std::string& t = lex.text;
    while (lex.at < t.size()) {
        const char c = t[lex.at];
        if (c == '\n' || c == ';') {
            ++lex.at;
            if (!words.empty())
                return true;
        } else if (c == ' ' || c == '\t' || c == '\r') {
            ++lex.at;
        } else if (c == '\\' && lex.at + 1 < t.size() && t[lex.at + 1] == '\n') {
            lex.at += 2;
        } else {
            std::string word;
            if (ReadWord(lex, word) && words.size() < MaxWords)
                words.push_back(word);
        }
    }
    return !words.empty();
}

// ---- The commands read ----

enum class Frame { Top, Entry, Submenu, Skipped };

struct Parser {
    GrubConfig config;
    Variables variables;
    std::vector<Frame> frames{Frame::Top};
    size_t skippedDepth = 0; // blocks open past MaxDepth
    GrubRoot topRoot, entryRoot;
    GrubEntry* entry = nullptr; // the menuentry being read
};

GrubRoot& CurrentRoot(Parser& p) {
    return p.entry ? p.entryRoot : p.topRoot;
}

GrubPath ResolvePath(const std::string& word, const GrubRoot& root) {
    GrubPath path{word, root};
    if (word.empty() || word[0] != '(')
        return path;
    const size_t close = word.find(')');
    const std::string device = word.substr(1, close == std::string::npos ? 0 : close - 1);
    path.path = close == std::string::npos ? "" : word.substr(close + 1);
    if (device != std::string(1, RootMark))
        path.root = GrubRoot{GrubRootKind::Device, 0, device};
    return path;
}

bool Frozen(Parser& p) {
    return p.config.truncated;
}

void AddSearch(Parser& p, GrubSearchBy by, const std::string& value, bool setsRoot) {
    if (p.config.searches.size() >= MaxSearches) {
        p.config.truncated = true;
        return;
    }
    p.config.searches.push_back({by, value, setsRoot});
    const size_t index = p.config.searches.size() - 1;
    if (p.entry)
        p.entry->searches.push_back(index);
    else
        p.config.topSearches.push_back(index);
    if (setsRoot)
        CurrentRoot(p) = GrubRoot{GrubRootKind::Search, index, ""};
}

struct SearchFlag {
    const char* flag;
    GrubSearchBy by;
};

const SearchFlag SearchFlags[] = {
    {"--fs-uuid", GrubSearchBy::FsUuid}, {"-u", GrubSearchBy::FsUuid},
    {"--label", GrubSearchBy::Label},    {"-l", GrubSearchBy::Label},
    {"--file", GrubSearchBy::File},      {"-f", GrubSearchBy::File},
};

// search [--fs-uuid|--label|--file] [--set[=VAR]] [--no-floppy] [--hint...] NAME
void ReadSearch(Parser& p, const std::vector<std::string>& words) {
    GrubSearchBy by = GrubSearchBy::File;
    bool setsRoot = false;
    std::string value;
    for (size_t i = 1; i < words.size(); ++i) {
        const std::string& w = words[i];
        bool flag = false;
        for (const SearchFlag& row : SearchFlags)
            if (w == row.flag)
                by = row.by, flag = true;
        if (w == "--set" || w == "-s" || w == "--set=root")
            setsRoot = true;
        else if (!flag && w.rfind("-", 0) != 0)
            value = w;
    }
    AddSearch(p, by, value, setsRoot);
}

// search.fs_uuid NAME [VAR], and the like
void ReadSearchShortcut(Parser& p, GrubSearchBy by, const std::vector<std::string>& words) {
    if (words.size() >= 2)
        AddSearch(p, by, words[1], words.size() >= 3 && words[2] == "root");
}

void ReadSearchUuid(Parser& p, const std::vector<std::string>& words) {
    ReadSearchShortcut(p, GrubSearchBy::FsUuid, words);
}

void ReadSearchLabel(Parser& p, const std::vector<std::string>& words) {
    ReadSearchShortcut(p, GrubSearchBy::Label, words);
}

void ReadSearchFile(Parser& p, const std::vector<std::string>& words) {
    ReadSearchShortcut(p, GrubSearchBy::File, words);
}

void ReadSet(Parser& p, const std::vector<std::string>& words) {
    for (size_t i = 1; i < words.size(); ++i) {
        const size_t equals = words[i].find('=');
        if (equals == std::string::npos)
            continue;
        const std::string name = words[i].substr(0, equals);
        const std::string value = words[i].substr(equals + 1);
        if (name == "root") {
            GrubPath device = ResolvePath("(" + value + ")", CurrentRoot(p));
            if (value.size() >= 2 && value.front() == '(')
                device = ResolvePath(value, CurrentRoot(p));
            CurrentRoot(p) = device.root;
        } else if (name == "prefix" && !p.entry) {
            p.config.prefix = ResolvePath(value, p.topRoot);
            p.variables["prefix"] = value;
        } else if (name == "default" && !p.entry) {
            p.config.defaultText = value;
            p.config.defaultSet = true;
        }
    }
}

// menuentry TITLE [--class C] [--users U] [--hotkey K] [--id ID] [--unrestricted] ... {
GrubEntry ReadTitle(const std::vector<std::string>& words) {
    static const char* const WithValue[] = {"--class", "--users", "--hotkey", "--id", "--source"};
    GrubEntry entry;
    bool titled = false;
    for (size_t i = 1; i < words.size(); ++i) {
        const std::string& w = words[i];
        bool takesValue = false;
        for (const char* option : WithValue)
            takesValue |= w == option;
        if (takesValue && i + 1 < words.size()) {
            if (w == "--id")
                entry.id = words[i + 1];
            ++i;
        } else if (w.rfind("--id=", 0) == 0) {
            entry.id = w.substr(5);
        } else if (!titled && w != "{" && w.rfind("--", 0) != 0) {
            entry.title = w;
            titled = true;
        }
    }
    return entry;
}

void Push(Parser& p, Frame frame) {
    if (p.frames.size() >= MaxDepth)
        ++p.skippedDepth;
    else
        p.frames.push_back(frame);
}

void Pop(Parser& p) {
    if (p.skippedDepth > 0) {
        --p.skippedDepth;
        return;
    }
    if (p.frames.size() <= 1)
        return;
    if (p.frames.back() == Frame::Entry)
        p.entry = nullptr;
    p.frames.pop_back();
}

bool Reading(const Parser& p) {
    return p.skippedDepth == 0 && p.frames.back() != Frame::Skipped;
}

void OpenMenu(Parser& p, const std::vector<std::string>& words, bool submenu) {
    const Frame at = p.frames.back();
    std::vector<GrubEntry>* list = nullptr;
    if (!Reading(p) || at == Frame::Entry || (submenu && at != Frame::Top)) {
        Push(p, Frame::Skipped);
        return;
    }
    if (p.config.items.size() >= MaxItems) {
        p.config.truncated = true;
        return;
    }
    if (at == Frame::Top) {
        p.config.items.push_back({submenu, ReadTitle(words), {}});
        if (submenu) {
            Push(p, Frame::Submenu);
            return;
        }
        p.entry = &p.config.items.back().entry;
    } else {
        list = &p.config.items.back().children;
        if (list->size() >= MaxItems) {
            p.config.truncated = true;
            return;
        }
        list->push_back(ReadTitle(words));
        p.entry = &list->back();
    }
    p.entryRoot = p.topRoot;
    Push(p, Frame::Entry);
}

// linux PATH [ARGUMENTS]: the kernel and its root=.
void ReadKernel(Parser& p, const std::vector<std::string>& words) {
    if (words.size() < 2)
        return;
    p.entry->kernel = ResolvePath(words[1], p.entryRoot);
    for (size_t i = 2; i < words.size(); ++i)
        if (words[i].rfind("root=", 0) == 0)
            p.entry->rootArgument = words[i].substr(5);
}

void ReadInitrds(Parser& p, const std::vector<std::string>& words) {
    for (size_t i = 1; i < words.size() && p.entry->initrds.size() < MaxInitrds; ++i)
        p.entry->initrds.push_back(ResolvePath(words[i], p.entryRoot));
}

void ReadConfigFile(Parser& p, const std::vector<std::string>& words) {
    if (words.size() >= 2)
        p.config.configFiles.push_back(ResolvePath(words[1], p.topRoot));
}

// Where a command is read: outside the menu entries, inside one, or both.
enum Where : uint8_t { OutsideEntries = 1, InsideEntries = 2 };

struct CommandRow {
    const char* name;
    void (*read)(Parser& p, const std::vector<std::string>& words);
    uint8_t where;
};

const CommandRow Commands[] = {
    {"search", ReadSearch, OutsideEntries | InsideEntries},
    {"search.fs_uuid", ReadSearchUuid, OutsideEntries | InsideEntries},
    {"search.fs_label", ReadSearchLabel, OutsideEntries | InsideEntries},
    {"search.file", ReadSearchFile, OutsideEntries | InsideEntries},
    {"set", ReadSet, OutsideEntries | InsideEntries},
    {"configfile", ReadConfigFile, OutsideEntries},
    {"linux", ReadKernel, InsideEntries},
    {"linuxefi", ReadKernel, InsideEntries},
    {"linux16", ReadKernel, InsideEntries},
    {"initrd", ReadInitrds, InsideEntries},
    {"initrdefi", ReadInitrds, InsideEntries},
    {"initrd16", ReadInitrds, InsideEntries},
};

// The keywords of if, while and for open no block of braces: what follows them
// is read as a command of its own.
const char* const Keywords[] = {"then", "else", "do"};

bool IsKeyword(const std::string& word) {
    for (const char* keyword : Keywords)
        if (word == keyword)
            return true;
    return false;
}

void ReadCommand(Parser& p, std::vector<std::string> words) {
    while (!words.empty() && IsKeyword(words[0]))
        words.erase(words.begin());
    if (words.empty())
        return;
    const std::string& name = words[0];
    if (name == "}")
        return Pop(p);
    if (name == "menuentry" || name == "submenu")
        return OpenMenu(p, words, name == "submenu");
    if (words.back() == "{")
        return Push(p, Frame::Skipped);
    if (!Reading(p))
        return;
    const uint8_t here = p.entry ? InsideEntries : OutsideEntries;
    for (const CommandRow& row : Commands)
        if (name == row.name && (row.where & here))
            return row.read(p, words);
}

// "menuentry x { linux /k }" on one line: the words up to "{" are one command,
// "}" is one, and those between are others.
void ReadCommands(Parser& p, const std::vector<std::string>& words) {
    std::vector<std::string> piece;
    for (const std::string& word : words) {
        if (word == "}") {
            if (!piece.empty())
                ReadCommand(p, piece);
            piece = {word};
        } else {
            piece.push_back(word);
        }
        if (word == "{" || word == "}") {
            ReadCommand(p, piece);
            piece.clear();
        }
    }
    if (!piece.empty())
        ReadCommand(p, piece);
}

const GrubEntry* FirstEntry(const GrubItem& item) {
    if (!item.submenu)
        return &item.entry;
    return item.children.empty() ? nullptr : &item.children.front();
}

bool IsNumber(const std::string& text) {
    return !text.empty() && text.size() < 8 &&
           text.find_first_not_of("0123456789") == std::string::npos;
}

// The row of a list that a default's piece names: by number, title or id.
template <typename Row, typename EntryOf>
const Row* Named(const std::vector<Row>& rows, const std::string& piece, EntryOf entryOf) {
    if (IsNumber(piece)) {
        const size_t n = std::stoul(piece);
        return n < rows.size() ? &rows[n] : nullptr;
    }
    for (const Row& row : rows)
        if (entryOf(row).title == piece || (!entryOf(row).id.empty() && entryOf(row).id == piece))
            return &row;
    return nullptr;
}

} // namespace

GrubConfig ParseGrubConfig(const std::string& text, const std::string& savedEntry) {
    Parser p;
    const std::string shown = text.substr(0, GrubConfigMaxBytes);
    p.variables["saved_entry"] = savedEntry;
    p.variables["root"] = std::string(1, RootMark);
    p.variables["menuentry_id_option"] = "--id";
    Lexer lex{shown, p.variables};
    std::vector<std::string> words;
    for (size_t commands = 0; NextCommand(lex, words) && !Frozen(p); ++commands) {
        if (commands >= MaxCommands) {
            p.config.truncated = true;
            break;
        }
        ReadCommands(p, words);
    }
    p.config.truncated |= text.size() > GrubConfigMaxBytes;
    return p.config;
}

std::string GrubEnvSavedEntry(const std::string& block) {
    static const char Header[] = "# GRUB Environment Block\n";
    if (block.compare(0, sizeof Header - 1, Header) != 0)
        return "";
    std::string value;
    size_t at = sizeof Header - 1;
    while (at < block.size()) {
        size_t end = block.find('\n', at);
        if (end == std::string::npos)
            end = block.size();
        const std::string line = block.substr(at, end - at);
        if (line.rfind("saved_entry=", 0) == 0) {
            value.clear();
            for (size_t i = 12; i < line.size(); ++i)
                if (line[i] != '\\' || ++i < line.size())
                    value += line[i];
        }
        at = end + 1;
    }
    return value;
}

const GrubEntry* DefaultGrubEntry(const GrubConfig& config) {
    if (config.items.empty())
        return nullptr;
    const GrubEntry* first = FirstEntry(config.items.front());
    const std::string& text = config.defaultText;
    const size_t step = text.find('>');
    auto self = [](const GrubItem& item) -> const GrubEntry& { return item.entry; };
    const GrubItem* item = Named(config.items, text.substr(0, step), self);
    if (!item)
        return first;
    if (!item->submenu || step == std::string::npos)
        return FirstEntry(*item);
    auto entryOf = [](const GrubEntry& entry) -> const GrubEntry& { return entry; };
    const GrubEntry* child = Named(item->children, text.substr(step + 1), entryOf);
    return child ? child : first;
}
