// The program's resource script as the simulated Windows sees it: res/installer.rc, read and
// parsed at run time (the very file the Windows builds compile) for its menus, accelerator
// tables, dialog templates, icons and bitmaps, with the identifiers of the headers it includes
// (res/resource.h, and the version header that the build makes).
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "simwin/windows_model.h"

#ifndef QDI_SOURCE_DIR
#error "the host build gives simwin the source directory"
#endif
#ifndef QDI_GENERATED_DIR
#error "the host build gives simwin the directory of the headers it makes"
#endif

namespace sim::detail {
namespace {

struct Token {
    enum Kind { Word, Number, String, Punct } kind = Word;
    std::string text; // the word (upper case), the string or the punctuation
    long value = 0;
    int line = 0;
};

// Style names that a resource script may use, with their real values.
const std::map<std::string, long>& known_symbols() {
    static const std::map<std::string, long> symbols = {
        {"IDOK", 1},
        {"IDCANCEL", 2},
        {"IDC_STATIC", -1},
        {"WS_OVERLAPPED", 0},
        {"WS_POPUP", static_cast<long>(0x80000000u)},
        {"WS_CHILD", 0x40000000},
        {"WS_VISIBLE", 0x10000000},
        {"WS_DISABLED", 0x08000000},
        {"WS_CAPTION", 0x00C00000},
        {"WS_BORDER", 0x00800000},
        {"WS_DLGFRAME", 0x00400000},
        {"WS_VSCROLL", 0x00200000},
        {"WS_HSCROLL", 0x00100000},
        {"WS_SYSMENU", 0x00080000},
        {"WS_THICKFRAME", 0x00040000},
        {"WS_GROUP", 0x00020000},
        {"WS_TABSTOP", 0x00010000},
        {"WS_MINIMIZEBOX", 0x00020000},
        {"WS_MAXIMIZEBOX", 0x00010000},
        {"WS_EX_CLIENTEDGE", 0x00000200},
        {"WS_EX_STATICEDGE", 0x00020000},
        {"WS_EX_DLGMODALFRAME", 0x00000001},
        {"DS_MODALFRAME", 0x80},
        {"DS_SETFONT", 0x40},
        {"DS_FIXEDSYS", 0x0008},
        {"DS_CENTER", 0x0800},
        {"DS_3DLOOK", 0x0004},
        {"DS_SHELLFONT", 0x48},
        {"SS_LEFT", 0},
        {"SS_CENTER", 1},
        {"SS_RIGHT", 2},
        {"SS_ICON", 3},
        {"SS_BITMAP", 0x0E},
        {"SS_NOPREFIX", 0x80},
        {"SS_SUNKEN", 0x1000},
        {"BS_PUSHBUTTON", 0},
        {"BS_DEFPUSHBUTTON", 1},
        {"BS_GROUPBOX", 7},
        {"ES_LEFT", 0},
        {"ES_MULTILINE", 4},
        {"ES_AUTOVSCROLL", 0x40},
        {"ES_AUTOHSCROLL", 0x80},
        {"ES_READONLY", 0x800},
    };
    return symbols;
}

class Parser {
  public:
    explicit Parser(const std::string& path) : directory_(path.substr(0, path.rfind('/') + 1)) {
        tokenize(read_file(path));
    }

    ResourceScript parse() {
        ResourceScript script;
        while (!at_end()) {
            Token first = take();
            if (is_word(first, "LANGUAGE")) {
                skip_line(first.line);
                continue;
            }
            if (is_word(first, "STRINGTABLE")) {
                skip_block();
                continue;
            }
            if (at_end() || peek().line != first.line)
                fail(first, "a resource statement needs a name and a type");
            std::string name = name_of(first);
            Token type = take();
            std::string kind = type.kind == Token::Word ? type.text : std::to_string(type.value);
            if (kind == "MENU" || kind == "MENUEX") {
                skip_to_begin();
                script.menus[name] = menu_block();
            } else if (kind == "ACCELERATORS") {
                skip_to_begin();
                script.accelerators[name] = accelerator_block();
            } else if (kind == "DIALOG" || kind == "DIALOGEX") {
                script.dialogs[name] = dialog(type.line);
            } else if (kind == "ICON" || kind == "BITMAP") {
                Token file = take();
                (kind == "ICON" ? script.icons : script.bitmaps)[name] = directory_ + file.text;
                skip_line(file.line);
            } else if (kind == "VERSIONINFO") {
                skip_block();
            } else {
                // A resource given by file (RT_MANIFEST, RCDATA, ...) or an unknown block.
                skip_line(type.line);
                if (!at_end() && (is_word(peek(), "BEGIN") || is_punct(peek(), "{")))
                    skip_block();
            }
        }
        return script;
    }

  private:
    std::vector<Token> tokens_;
    size_t position_ = 0;
    std::map<std::string, long> defines_;
    std::string directory_;

    static std::string read_file(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        if (!in)
            throw std::runtime_error("cannot read the resource script " + path);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    [[noreturn]] void fail(const Token& at, const std::string& what) const {
        throw std::runtime_error("installer.rc line " + std::to_string(at.line) + ": " + what);
    }

    // Reads the #define lines of a project header that the script includes by a quoted name, found
    // as the resource compiler finds it: beside the script, else among the headers the build
    // makes. System headers (<windows.h>) are known already.
    void include(const std::string& name) {
        for (const std::string& directory : {directory_, std::string(QDI_GENERATED_DIR "/")}) {
            std::ifstream in(directory + name);
            if (!in)
                continue;
            std::string line;
            while (std::getline(in, line))
                define_line(line);
            return;
        }
        throw std::runtime_error("installer.rc includes " + name + ", which is not there");
    }

    // A #define of a number; other defines (texts, lists) name nothing the script's statements
    // read.
    void define_line(const std::string& line) {
        std::istringstream words(line);
        std::string hash, symbol, value;
        words >> hash >> symbol >> value;
        if (hash != "#define" || value.empty())
            return;
        char* end = nullptr;
        long number = std::strtol(value.c_str(), &end, 0);
        if (*end == '\0')
            defines_[symbol] = number;
    }

    void tokenize(const std::string& text) {
        int line = 1;
        size_t i = 0;
        bool line_start = true;
        while (i < text.size()) {
            char ch = text[i];
            if (ch == '\n') {
                ++line;
                ++i;
                line_start = true;
                continue;
            }
            if (std::isspace(static_cast<unsigned char>(ch))) {
                ++i;
                continue;
            }
            if (ch == '#' && line_start) {
                size_t end = text.find('\n', i);
                std::string directive = text.substr(i, end == std::string::npos ? end : end - i);
                define_line(directive);
                size_t quote = directive.find('"');
                if (directive.rfind("#include", 0) == 0 && quote != std::string::npos)
                    include(
                        directive.substr(quote + 1, directive.find('"', quote + 1) - quote - 1));
                i = end == std::string::npos ? text.size() : end;
                continue;
            }
            line_start = false;
            if (text.compare(i, 2, "//") == 0) {
                i = text.find('\n', i);
                if (i == std::string::npos)
                    i = text.size();
                continue;
            }
            if (text.compare(i, 2, "/*") == 0) {
                size_t end = text.find("*/", i + 2);
                for (size_t k = i; k < std::min(end, text.size()); ++k)
                    line += text[k] == '\n';
                i = end == std::string::npos ? text.size() : end + 2;
                continue;
            }
            Token token;
            token.line = line;
            if (ch == '"') {
                token.kind = Token::String;
                ++i;
                while (i < text.size()) {
                    if (text[i] == '"' && i + 1 < text.size() && text[i + 1] == '"') {
                        token.text += '"';
                        i += 2;
                    } else if (text[i] == '"') {
                        ++i;
                        break;
                    } else {
                        token.text += text[i++];
                    }
                }
            } else if (std::isdigit(static_cast<unsigned char>(ch))) {
                token.kind = Token::Number;
                char* end = nullptr;
                token.value = static_cast<long>(std::strtoul(text.c_str() + i, &end, 0));
                i = static_cast<size_t>(end - text.c_str());
                while (i < text.size() && (text[i] == 'L' || text[i] == 'l' || text[i] == 'U'))
                    ++i;
            } else if (std::isalpha(static_cast<unsigned char>(ch)) || ch == '_') {
                token.kind = Token::Word;
                while (i < text.size() && (std::isalnum(static_cast<unsigned char>(text[i])) ||
                                           text[i] == '_' || text[i] == '.'))
                    token.text += text[i++];
            } else {
                token.kind = Token::Punct;
                token.text = std::string(1, ch);
                ++i;
            }
            tokens_.push_back(token);
        }
    }

    bool at_end() const {
        return position_ >= tokens_.size();
    }
    const Token& peek() const {
        return tokens_[position_];
    }
    Token take() {
        if (at_end())
            throw std::runtime_error("installer.rc ends inside a statement");
        return tokens_[position_++];
    }
    static bool is_word(const Token& t, const char* word) {
        return t.kind == Token::Word && t.text == word;
    }
    static bool is_punct(const Token& t, const char* punct) {
        return t.kind == Token::Punct && t.text == punct;
    }
    static bool is_begin(const Token& t) {
        return is_word(t, "BEGIN") || is_punct(t, "{");
    }
    static bool is_end(const Token& t) {
        return is_word(t, "END") || is_punct(t, "}");
    }
    void skip_line(int line) {
        while (!at_end() && peek().line == line)
            ++position_;
    }
    void skip_to_begin() {
        while (!is_begin(take())) {
        }
    }
    void skip_block() {
        skip_to_begin();
        int depth = 1;
        while (depth > 0) {
            Token t = take();
            depth += is_begin(t) ? 1 : is_end(t) ? -1 : 0;
        }
    }
    bool take_comma() {
        if (!at_end() && is_punct(peek(), ",")) {
            ++position_;
            return true;
        }
        return false;
    }

    std::string name_of(const Token& t) const {
        if (t.kind == Token::Number)
            return "#" + std::to_string(t.value);
        auto it = defines_.find(t.text);
        if (it != defines_.end())
            return "#" + std::to_string(it->second);
        return t.text;
    }

    long symbol(const Token& t) const {
        auto it = defines_.find(t.text);
        if (it != defines_.end())
            return it->second;
        auto known = known_symbols().find(t.text);
        if (known != known_symbols().end())
            return known->second;
        fail(t, "unknown symbol " + t.text);
    }

    long term() {
        Token t = take();
        if (is_punct(t, "-"))
            return -term();
        if (is_punct(t, "(")) {
            long value = expression();
            take();
            return value;
        }
        if (t.kind == Token::Number)
            return t.value;
        if (t.kind == Token::Word)
            return symbol(t);
        fail(t, "a number was expected");
    }

    // a | b | NOT c ...: NOT clears the bits that follow it.
    long expression() {
        long value = 0;
        for (;;) {
            bool clear = false;
            if (!at_end() && is_word(peek(), "NOT")) {
                ++position_;
                clear = true;
            }
            long bits = term();
            value = clear ? (value & ~bits) : (value | bits);
            if (at_end() || !(is_punct(peek(), "|") || is_punct(peek(), "+")))
                return value;
            ++position_;
        }
    }

    std::vector<MenuTemplateItem> menu_block() {
        std::vector<MenuTemplateItem> items;
        for (;;) {
            Token t = take();
            if (is_end(t))
                return items;
            MenuTemplateItem item;
            if (is_word(t, "POPUP")) {
                item.is_popup = true;
                item.text = take().text;
                skip_to_begin();
                item.popup = menu_block();
            } else if (is_word(t, "MENUITEM")) {
                Token text = take();
                if (is_word(text, "SEPARATOR")) {
                    item.separator = true;
                } else {
                    item.text = text.text;
                    take_comma();
                    item.id = static_cast<UINT>(expression());
                    while (take_comma() || (!at_end() && peek().line == text.line)) {
                        Token option = take();
                        if (is_word(option, "GRAYED"))
                            item.state |= MF_GRAYED;
                        else if (is_word(option, "INACTIVE"))
                            item.state |= MF_DISABLED;
                    }
                }
            } else {
                fail(t, "a menu item was expected");
            }
            items.push_back(item);
        }
    }

    std::vector<AcceleratorEntry> accelerator_block() {
        std::vector<AcceleratorEntry> entries;
        for (;;) {
            Token event = take();
            if (is_end(event))
                return entries;
            AcceleratorEntry entry;
            if (event.kind == Token::String) {
                if (event.text.size() == 2 && event.text[0] == '^')
                    entry.key = static_cast<WORD>(std::toupper(event.text[1]) - '@');
                else if (event.text.size() == 1)
                    entry.key = static_cast<unsigned char>(event.text[0]);
                else
                    fail(event, "an accelerator key of one character was expected");
            } else {
                --position_;
                entry.key = static_cast<WORD>(term());
            }
            take_comma();
            entry.command = static_cast<WORD>(expression());
            while (take_comma()) {
                Token option = take();
                if (is_word(option, "VIRTKEY"))
                    entry.flags |= FVIRTKEY;
                else if (is_word(option, "ALT"))
                    entry.flags |= FALT;
                else if (is_word(option, "SHIFT"))
                    entry.flags |= FSHIFT;
                else if (is_word(option, "CONTROL"))
                    entry.flags |= FCONTROL;
                else if (!is_word(option, "ASCII") && !is_word(option, "NOINVERT"))
                    fail(option, "unknown accelerator option " + option.text);
            }
            entries.push_back(entry);
        }
    }

    // One argument of a control statement: a text or an expression.
    std::string text_argument() {
        Token t = peek();
        if (t.kind == Token::String) {
            ++position_;
            return t.text;
        }
        return "#" + std::to_string(expression());
    }

    DialogTemplate dialog(int header_line) {
        DialogTemplate d;
        d.x = static_cast<int>(expression());
        take_comma();
        d.y = static_cast<int>(expression());
        take_comma();
        d.width = static_cast<int>(expression());
        take_comma();
        d.height = static_cast<int>(expression());
        skip_line(header_line);
        for (;;) {
            Token t = take();
            if (is_begin(t))
                break;
            if (is_word(t, "STYLE"))
                d.style = static_cast<DWORD>(expression());
            else if (is_word(t, "CAPTION"))
                d.caption = take().text;
            else if (is_word(t, "FONT")) {
                d.font_size = static_cast<int>(expression());
                take_comma();
                d.font = take().text;
                skip_line(t.line);
            } else
                skip_line(t.line);
        }
        for (;;) {
            Token t = take();
            if (is_end(t))
                return d;
            d.controls.push_back(control(t));
        }
    }

    DialogControl control(const Token& keyword) {
        DialogControl c;
        const std::string& k = keyword.text;
        DWORD base = WS_CHILD | WS_VISIBLE;
        if (k == "CONTROL") {
            c.text = text_argument();
            take_comma();
            c.id = static_cast<int>(expression());
            take_comma();
            c.class_name = take().text;
            take_comma();
            c.style = base | static_cast<DWORD>(expression());
        } else {
            if (k != "EDITTEXT") {
                c.text = text_argument();
                take_comma();
            }
            c.id = static_cast<int>(expression());
            if (k == "LTEXT" || k == "CTEXT" || k == "RTEXT" || k == "ICON") {
                c.class_name = "Static";
                long align = k == "CTEXT" ? 1 : k == "RTEXT" ? 2 : k == "ICON" ? 3 : 0;
                c.style = base | WS_GROUP | static_cast<DWORD>(align);
            } else if (k == "PUSHBUTTON" || k == "DEFPUSHBUTTON" || k == "GROUPBOX") {
                c.class_name = "Button";
                long kind = k == "DEFPUSHBUTTON" ? 1 : k == "GROUPBOX" ? 7 : 0;
                c.style = base | WS_TABSTOP | static_cast<DWORD>(kind);
            } else if (k == "EDITTEXT") {
                c.class_name = "Edit";
                c.style = base | WS_BORDER | WS_TABSTOP;
            } else {
                fail(keyword, "unknown dialog control " + k);
            }
        }
        int* place[] = {&c.x, &c.y, &c.width, &c.height};
        for (int* value : place) {
            if (!take_comma()) {
                if (k == "ICON" && value != &c.x)
                    break;
                fail(keyword, "a control needs its position and size");
            }
            *value = static_cast<int>(expression());
        }
        if (k != "CONTROL" && take_comma())
            c.style |= static_cast<DWORD>(expression());
        if (take_comma())
            c.ex_style = static_cast<DWORD>(expression());
        return c;
    }
};

} // namespace

const ResourceScript& resources() {
    static const ResourceScript script = Parser(QDI_SOURCE_DIR "/res/installer.rc").parse();
    return script;
}

std::string resource_name(LPCSTR name) {
    if (IS_INTRESOURCE(name))
        return "#" + std::to_string(reinterpret_cast<uintptr_t>(name));
    std::string text = name;
    if (!text.empty() && text[0] == '#')
        return text;
    for (char& ch : text)
        ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    return text;
}

bool bitmap_size(const std::string& name, int* width, int* height) {
    auto it = resources().bitmaps.find(name);
    if (it == resources().bitmaps.end())
        return false;
    // BITMAPFILEHEADER (14 bytes), then BITMAPINFOHEADER: biWidth at 18, biHeight at 22.
    constexpr size_t kWidthOffset = 18;
    constexpr size_t kHeaderBytes = 26;
    std::ifstream in(it->second, std::ios::binary);
    unsigned char header[kHeaderBytes] = {};
    if (!in.read(reinterpret_cast<char*>(header), kHeaderBytes))
        return false;
    auto little = [&](size_t at) {
        return static_cast<int32_t>(static_cast<uint32_t>(header[at]) |
                                    static_cast<uint32_t>(header[at + 1]) << 8 |
                                    static_cast<uint32_t>(header[at + 2]) << 16 |
                                    static_cast<uint32_t>(header[at + 3]) << 24);
    };
    *width = little(kWidthOffset);
    *height = std::abs(little(kWidthOffset + 4));
    return true;
}

} // namespace sim::detail
