#include "sync/Masks.h"

#include <optional>
#include <utility>
#include <vector>

#include "model/Errors.h"

namespace {

// More separate runs of '*' than this make a mask invalid.
constexpr int MaxStarRuns = 30;

bool isBlankOrControl(QChar c) {
    return c.unicode() >= 1 && c.unicode() <= 32;
}

// Letters A to Z compare without regard to case; every other character exactly.
char16_t upperAscii(char16_t c) {
    return (c >= u'a' && c <= u'z') ? char16_t(c - u'a' + u'A') : c;
}

// The last component of a path: masks and names are matched by their bare file name.
QString lastComponent(const QString& path) {
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

// A name without an extension is matched with a "." appended, so that "*." and
// "*" select exactly the names without one. A leading dot counts as an extension.
QString withExtension(QString text) {
    if (!text.contains(QLatin1Char('.')))
        text.append(QLatin1Char('.'));
    return text;
}

// One compiled element of a mask.
struct Token {
    enum class Kind { Star, AnyChar, Literal, Set };
    Kind kind = Kind::Literal;
    char16_t literal = 0;                           // upper-cased
    bool negate = false;                            // "[!...]"
    std::vector<std::pair<char16_t, char16_t>> set; // inclusive ranges, upper-cased

    static Token of(Kind kind) {
        Token token;
        token.kind = kind;
        return token;
    }

    bool matches(char16_t c) const {
        const char16_t u = upperAscii(c);
        switch (kind) {
        case Kind::Star:
        case Kind::AnyChar:
            return true;
        case Kind::Literal:
            return u == literal;
        case Kind::Set: {
            bool inSet = false;
            for (const auto& [low, high] : set)
                inSet = inSet || (u >= low && u <= high);
            return inSet != negate;
        }
        }
        return false;
    }
};

[[noreturn]] void throwInvalidMask(const QString& mask, qsizetype index) {
    throw VellisyncError(QStringLiteral("'%1' is an invalid mask at (%2)").arg(mask).arg(index + 1));
}

class MaskCompiler {
public:
    explicit MaskCompiler(const QString& mask) : m_mask(mask) {}

    std::vector<Token> compile() {
        for (m_pos = 0; m_pos < m_mask.size(); ++m_pos) {
            const char16_t c = m_mask.at(m_pos).unicode();
            if (c == u'*') {
                m_starPending = true;
            } else if (c == u'?') {
                // "*?" behaves as "*": a '?' right after a star run is dropped.
                if (!m_starPending)
                    push(Token::of(Token::Kind::AnyChar));
            } else if (c == u'[') {
                push(scanSet());
            } else {
                Token literal;
                literal.literal = upperAscii(c);
                push(std::move(literal));
            }
        }
        // A trailing star run still counts towards the limit.
        countStarRun();
        if (m_starPending)
            m_tokens.push_back(Token::of(Token::Kind::Star));
        return std::move(m_tokens);
    }

private:
    // Emits the pending star run, then the token; the limit is checked at the
    // element that ends the run, which is where the error points.
    void push(Token token) {
        countStarRun();
        if (m_starPending)
            m_tokens.push_back(Token::of(Token::Kind::Star));
        m_starPending = false;
        m_tokens.push_back(std::move(token));
    }

    void countStarRun() {
        if (m_starPending && ++m_starRuns > MaxStarRuns)
            throwInvalidMask(m_mask, m_pos);
    }

    // Reads "[...]" from m_pos; leaves m_pos on the closing bracket.
    Token scanSet() {
        Token token;
        token.kind = Token::Kind::Set;
        ++m_pos;
        if (m_pos < m_mask.size() && m_mask.at(m_pos) == QLatin1Char('!')) {
            token.negate = true;
            ++m_pos;
        }
        bool haveRangeStart = false;
        char16_t rangeStart = 0;
        bool anyMember = false;
        for (; m_pos < m_mask.size() && m_mask.at(m_pos) != QLatin1Char(']'); ++m_pos) {
            const char16_t c = m_mask.at(m_pos).unicode();
            const bool rangeEndFollows = m_pos + 1 < m_mask.size() && m_mask.at(m_pos + 1) != QLatin1Char(']');
            if (c == u'-' && rangeEndFollows) {
                if (!haveRangeStart)
                    throwInvalidMask(m_mask, m_pos); // a range without a start
                ++m_pos;
                const char16_t rangeEnd = upperAscii(m_mask.at(m_pos).unicode());
                if (rangeEnd >= rangeStart) // a backward range adds nothing
                    token.set.emplace_back(rangeStart, rangeEnd);
            } else if (c == u'-' && !haveRangeStart) {
                throwInvalidMask(m_mask, m_pos); // "[-]" or "[!-]"
            } else {
                // Also a '-' just before the closing bracket: it stands for itself.
                rangeStart = upperAscii(c);
                haveRangeStart = true;
                token.set.emplace_back(rangeStart, rangeStart);
            }
            anyMember = true;
        }
        if (m_pos >= m_mask.size() || !anyMember)
            throwInvalidMask(m_mask, m_pos);
        return token;
    }

    const QString& m_mask;
    qsizetype m_pos = 0;
    bool m_starPending = false;
    int m_starRuns = 0;
    std::vector<Token> m_tokens;
};

// Anchored match with backtracking: after a mismatch the latest star takes one
// more character. Every other token consumes exactly one character, so this
// finds a match whenever one exists.
bool matchTokens(const std::vector<Token>& tokens, const QString& name) {
    const qsizetype tokenCount = qsizetype(tokens.size());
    qsizetype t = 0, i = 0;
    qsizetype starToken = -1, starIndex = 0;
    while (i < name.size()) {
        if (t < tokenCount && tokens[size_t(t)].kind == Token::Kind::Star) {
            starToken = t++;
            starIndex = i;
        } else if (t < tokenCount && tokens[size_t(t)].matches(name.at(i).unicode())) {
            ++t;
            ++i;
        } else if (starToken >= 0) {
            t = starToken + 1;
            i = ++starIndex;
        } else {
            return false;
        }
    }
    while (t < tokenCount && tokens[size_t(t)].kind == Token::Kind::Star)
        ++t;
    return t == tokenCount;
}

// The tokens of a mask as it is matched: by its last component, with the
// extension rule applied. Throws for an invalid mask.
std::vector<Token> compileMask(const QString& mask) {
    return MaskCompiler(withExtension(lastComponent(mask))).compile();
}

} // namespace

MaskList ParseMaskList(const QString& text) {
    MaskList masks;
    const qsizetype n = text.size();
    qsizetype p = 0;
    auto skipBlanks = [&] {
        while (p < n && isBlankOrControl(text.at(p)))
            ++p;
    };
    skipBlanks();
    while (p < n) {
        QString mask;
        if (text.at(p) == QLatin1Char('"')) {
            // Quoted: runs to the closing quote, "" standing for one quote; an
            // unclosed quote runs to the end of the text.
            for (++p; p < n; ++p) {
                if (text.at(p) == QLatin1Char('"')) {
                    if (p + 1 < n && text.at(p + 1) == QLatin1Char('"')) {
                        mask.append(QLatin1Char('"'));
                        ++p;
                    } else {
                        ++p;
                        break;
                    }
                } else {
                    mask.append(text.at(p));
                }
            }
        } else {
            const qsizetype start = p;
            while (p < n && !isBlankOrControl(text.at(p)) && text.at(p) != QLatin1Char(','))
                ++p;
            mask = text.mid(start, p - start);
        }
        masks.append(mask);
        skipBlanks();
        if (p < n && text.at(p) == QLatin1Char(',')) {
            if (p + 1 == n)
                masks.append(QString()); // a comma that ends the text adds an empty mask
            ++p;
            skipBlanks();
        }
    }
    return masks;
}

bool MatchesFileMask(const QString& mask, const QString& name) {
    if (mask.isEmpty())
        return false;
    return matchTokens(compileMask(mask), withExtension(lastComponent(name)));
}

void CheckMaskList(const MaskList& masks) {
    for (const QString& mask : masks) {
        if (!mask.isEmpty())
            compileMask(mask);
    }
}

bool MatchesMaskList(const MaskList& masks, const QString& name) {
    for (const QString& mask : masks) {
        if (MatchesFileMask(mask, name))
            return true;
    }
    return false;
}

bool IsFileIncluded(const QString& name, const MaskList& includeMasks, const MaskList& excludeMasks) {
    return MatchesMaskList(includeMasks, name) && !MatchesMaskList(excludeMasks, name);
}

struct FileFilter::Compiled {
    struct Mask {
        QString text;
        std::optional<std::vector<Token>> tokens; // none for an invalid mask

        explicit Mask(const QString& mask) : text(mask) {
            if (mask.isEmpty())
                return;
            try {
                tokens = compileMask(mask);
            } catch (const VellisyncError&) {
                // Thrown again when matching reaches it.
            }
        }

        bool matches(const QString& preparedName) const {
            if (text.isEmpty())
                return false;
            if (!tokens)
                compileMask(text); // throws the mask's error
            return matchTokens(*tokens, preparedName);
        }
    };

    static std::vector<Mask> compileAll(const MaskList& masks) {
        std::vector<Mask> compiled;
        compiled.reserve(size_t(masks.size()));
        for (const QString& mask : masks)
            compiled.emplace_back(mask);
        return compiled;
    }

    static bool anyMatches(const std::vector<Mask>& masks, const QString& preparedName) {
        for (const Mask& mask : masks) {
            if (mask.matches(preparedName))
                return true;
        }
        return false;
    }

    std::vector<Mask> include;
    std::vector<Mask> exclude;
};

FileFilter::FileFilter() : m_compiled(std::make_shared<const Compiled>()) {}

FileFilter::FileFilter(const MaskList& includeMasks, const MaskList& excludeMasks)
    : m_compiled(std::make_shared<const Compiled>(
          Compiled{Compiled::compileAll(includeMasks), Compiled::compileAll(excludeMasks)})) {}

bool FileFilter::includes(const QString& name) const {
    const QString prepared = withExtension(lastComponent(name));
    return Compiled::anyMatches(m_compiled->include, prepared) && !Compiled::anyMatches(m_compiled->exclude, prepared);
}
