#include "resources/rc_script.h"

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace kestrel::test {

namespace {

struct Token {
    enum Kind { Word, Number, String, Comma, Bar, End } kind = End;
    std::string text;
    int number = 0;
    int line = 0;
};

// Comments, preprocessor lines and white space go; strings, words, numbers, ',' and '|' stay.
bool tokenize(const std::string& text, std::vector<Token>* tokens, std::string* error) {
    int line = 1;
    size_t i = 0;
    bool lineStart = true;
    while (i < text.size()) {
        const char c = text[i];
        if (c == '\n') {
            ++line;
            ++i;
            lineStart = true;
            continue;
        }
        if (std::isspace(static_cast<unsigned char>(c))) {
            ++i;
            continue;
        }
        if (lineStart && c == '#') {
            while (i < text.size() && text[i] != '\n')
                ++i;
            continue;
        }
        lineStart = false;
        if (text.compare(i, 2, "//") == 0) {
            while (i < text.size() && text[i] != '\n')
                ++i;
            continue;
        }
        if (text.compare(i, 2, "/*") == 0) {
            const size_t end = text.find("*/", i + 2);
            if (end == std::string::npos) {
                *error = "unterminated comment at line " + std::to_string(line);
                return false;
            }
            for (size_t k = i; k < end; ++k)
                if (text[k] == '\n') ++line;
            i = end + 2;
            continue;
        }
        Token t;
        t.line = line;
        if (c == '"') {
            // "" stands for one quote inside a string, as in the resource compilers.
            t.kind = Token::String;
            ++i;
            for (;;) {
                if (i >= text.size() || text[i] == '\n') {
                    *error = "unterminated string at line " + std::to_string(line);
                    return false;
                }
                if (text[i] == '"') {
                    if (i + 1 < text.size() && text[i + 1] == '"') {
                        t.text += '"';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                t.text += text[i++];
            }
        } else if (c == ',' || c == '|') {
            t.kind = c == ',' ? Token::Comma : Token::Bar;
            t.text = c;
            ++i;
        } else if (std::isdigit(static_cast<unsigned char>(c)) || c == '-') {
            size_t end = i + 1;
            while (end < text.size() && std::isalnum(static_cast<unsigned char>(text[end])))
                ++end;
            t.kind = Token::Number;
            t.text = text.substr(i, end - i);
            char* stop = nullptr;
            t.number = static_cast<int>(std::strtol(t.text.c_str(), &stop, 0));
            if (*stop != '\0') {
                *error = "bad number " + t.text + " at line " + std::to_string(line);
                return false;
            }
            i = end;
        } else if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
            size_t end = i + 1;
            while (end < text.size() &&
                   (std::isalnum(static_cast<unsigned char>(text[end])) || text[end] == '_'))
                ++end;
            t.kind = Token::Word;
            t.text = text.substr(i, end - i);
            i = end;
        } else {
            *error =
                std::string("unexpected character '") + c + "' at line " + std::to_string(line);
            return false;
        }
        tokens->push_back(t);
    }
    Token end;
    end.line = line;
    tokens->push_back(end);
    return true;
}

class Parser {
  public:
    Parser(std::vector<Token> tokens, std::string* error) : t_(std::move(tokens)), error_(error) {}

    bool script(RcScript* out) {
        while (peek().kind != Token::End) {
            int id = 0;
            if (!number(&id)) return false;
            const Token& kind = next();
            if (kind.kind == Token::Word && kind.text == "ICON") {
                RcIcon icon;
                icon.id = id;
                if (!string(&icon.file)) return false;
                out->icons.push_back(icon);
            } else if (kind.kind == Token::Word && kind.text == "DIALOGEX") {
                RcDialog dialog;
                dialog.id = id;
                if (!dialogex(&dialog)) return false;
                out->dialogs.push_back(dialog);
            } else {
                return fail(kind, "an ICON or DIALOGEX resource");
            }
        }
        return true;
    }

  private:
    const Token& peek() const { return t_[pos_]; }
    const Token& next() { return t_[pos_ < t_.size() - 1 ? pos_++ : pos_]; }

    bool fail(const Token& at, const std::string& expected) {
        *error_ = "line " + std::to_string(at.line) + ": expected " + expected + ", found '" +
                  at.text + "'";
        return false;
    }
    bool number(int* v) {
        const Token& t = next();
        if (t.kind != Token::Number) return fail(t, "a number");
        *v = t.number;
        return true;
    }
    bool string(std::string* v) {
        const Token& t = next();
        if (t.kind != Token::String) return fail(t, "a string");
        *v = t.text;
        return true;
    }
    bool comma() {
        const Token& t = next();
        return t.kind == Token::Comma || fail(t, "','");
    }
    bool numbers(int* a, int* b, int* c, int* d) {
        return number(a) && comma() && number(b) && comma() && number(c) && comma() && number(d);
    }
    // NAME [| [NOT] NAME]...
    bool styles(std::set<std::string>* on, std::set<std::string>* off) {
        for (;;) {
            bool negated = false;
            Token t = next();
            if (t.kind == Token::Word && t.text == "NOT") {
                negated = true;
                t = next();
            }
            if (t.kind != Token::Word) return fail(t, "a style name");
            if (negated && off == nullptr) return fail(t, "a style without NOT");
            (negated ? *off : *on).insert(t.text);
            if (peek().kind != Token::Bar) return true;
            next();
        }
    }

    bool dialogex(RcDialog* d) {
        if (!numbers(&d->x, &d->y, &d->cx, &d->cy)) return false;
        for (;;) {
            const Token& t = next();
            if (t.kind != Token::Word) return fail(t, "a dialog statement");
            if (t.text == "STYLE") {
                if (!styles(&d->styles, nullptr)) return false;
            } else if (t.text == "CAPTION") {
                if (!string(&d->caption)) return false;
            } else if (t.text == "FONT") {
                if (!number(&d->fontPointSize) || !comma() || !string(&d->fontName)) return false;
            } else if (t.text == "BEGIN") {
                break;
            } else {
                return fail(t, "STYLE, CAPTION, FONT or BEGIN");
            }
        }
        for (;;) {
            const Token& t = next();
            if (t.kind == Token::Word && t.text == "END") return true;
            if (t.kind != Token::Word || t.text != "CONTROL") return fail(t, "CONTROL or END");
            RcControl c;
            if (!string(&c.text) || !comma() || !number(&c.id) || !comma() ||
                !string(&c.className) || !comma() || !styles(&c.styles, &c.notStyles) || !comma() ||
                !numbers(&c.x, &c.y, &c.cx, &c.cy))
                return false;
            if (peek().kind == Token::Comma) return fail(peek(), "no extended style");
            d->controls.push_back(c);
        }
    }

    std::vector<Token> t_;
    size_t pos_ = 0;
    std::string* error_;
};

}  // namespace

bool parseRcScript(const std::string& text, RcScript* script, std::string* error) {
    std::vector<Token> tokens;
    if (!tokenize(text, &tokens, error)) return false;
    *script = RcScript();
    return Parser(std::move(tokens), error).script(script);
}

bool readTextFile(const char* path, std::string* text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream all;
    all << in.rdbuf();
    *text = all.str();
    return true;
}

}  // namespace kestrel::test
