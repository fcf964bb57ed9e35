#include "capture/consentprobe.h"

#include <cctype>
#include <utility>

#include <QByteArray>
#include <QByteArrayView>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QSet>
#include <QStringList>

namespace Capture {

namespace {

    // Where the library's build keeps its declarative rules: one line, a script object literal
    // { v, s: [strings], r: [rules], index }. A rule is [version, name, cosmetic, url pattern,
    // frames, prehide, detectCmp, detectPopup, optOut, test, extra]; its steps name selectors by
    // their index in s (e: exists, v: visible) or carry them (exists, visible: a chain whose first
    // selector is in the document, the rest in a shadow root or frame inside it).
    constexpr QByteArrayView kRulesStart = "var compact_rules_default = ";
    constexpr int kUrlPattern = 3;
    constexpr int kDetectCmp = 6;

    // The library's code-based platforms find themselves with code, not rules: their markers,
    // read from that code (TrustArc, ConsentManager, Evidon, OneTrust, Klaro, Uniconsent,
    // Conversant, TikTok, Admiral's card, Cookiebot's dialog). Review them when the library is
    // updated (scripts/update-consent-rules).
    const QStringList kCodePlatforms { QStringLiteral("#truste-show-consent"), QStringLiteral("#truste-consent-track"),
        QStringLiteral("#cmpbox"), QStringLiteral("#_evidon_banner"), QStringLiteral("#onetrust-banner-sdk"),
        QStringLiteral("#onetrust-pc-sdk"), QStringLiteral(".klaro > .cookie-modal"),
        QStringLiteral(".klaro > .cookie-notice"), QStringLiteral(".unic .unic-box"), QStringLiteral(".unic .unic-bar"),
        QStringLiteral(".unic .unic-modal"), QStringLiteral(".cmp-root .cmp-receptacle"),
        QStringLiteral("tiktok-cookie-banner"), QStringLiteral("#cmp-app-container"),
        QStringLiteral("div[class*=Card] > div[class*=Frame] > div[class*=Pills] > button[class*=Pills__StyledPill]"),
        QStringLiteral("#CybotCookiebotDialog") };

    // Blink matches a selector list against every element in turn, and the library's list is long
    // (half a second for a large page), so each selector is asked only when the name it needs (an
    // id, a class or a tag: [kind, name, selector, pattern], kind "q" when it has none) is in the
    // document and the page's address matches its rule's pattern (patterns[0] is none; a pattern
    // comes with text every address it matches contains, which spares most patterns' compiling). Ids are
    // looked up (their case must match, as outside quirks mode); a lone class or tag is a quick
    // pass, a list of them is not. A selector this browser cannot read spoils the list, not the
    // others; the library cannot find it either. Besides markup: Cookiebot's, ConsentManager's and
    // GDPR Legal Cookie's globals, and the query that marks a SourcePoint message page in its frame.
    const QString kProbe = QStringLiteral(R"js((() => {
if (location.protocol !== 'http:' && location.protocol !== 'https:')
    return false;
const markers = %1;
const xpath = %2;
const patterns = %3;
const matches = new Map();
const applies = (p) => {
    if (p === 0)
        return true;
    if (!matches.has(p))
        matches.set(p, location.href.includes(patterns[p][1]) && location.href.match(patterns[p][0]) !== null);
    return matches.get(p);
};
if (%4 && patterns.some((_, p) => applies(p) && p > 0))
    return 'sites';
const candidates = markers.filter(([kind, name, , p]) => (kind !== 'i' || document.getElementById(name) !== null) && applies(p));
const known = new Map();
const present = (kind, name) => {
    const key = kind + name;
    if (!known.has(key))
        known.set(key, document.querySelector((kind === 'c' ? '.' : '') + CSS.escape(name)) !== null);
    return known.get(key);
};
const css = candidates.filter(([kind, name]) => kind === 'i' || kind === 'q' || present(kind, name)).map((m) => m[2]);
const found = (s) => { try { return document.querySelector(s) !== null; } catch (e) { return false; } };
let marked;
try {
    marked = css.length > 0 && document.querySelector(css.join(',')) !== null;
} catch (e) {
    marked = css.some(found);
}
return marked || xpath.some(([, , x, p]) => {
    try {
        return applies(p) && document.evaluate(x, document, null, XPathResult.FIRST_ORDERED_NODE_TYPE, null).singleNodeValue !== null;
    } catch (e) {
        return false;
    }
}) || !!window.Cookiebot || typeof window.__cmp === 'function' || !!window.GDPR_LC
    || /[?&](message_id|requestUUID|consentUUID)=/.test(location.search);
})())js");

    bool isNameStart(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == '$'; }

    // The literal as JSON: bare keys quoted, strings in any of the script's quotes double-quoted
    // with JSON's escapes. Numbers (1e3 is JSON too), true, false and null pass as they are.
    QByteArray literalAsJson(QByteArrayView in)
    {
        QByteArray out;
        out.reserve(in.size() + in.size() / 8);
        const qsizetype n = in.size();
        qsizetype i = 0;
        while (i < n) {
            const char c = in[i];
            if (c == '"' || c == '\'' || c == '`') {
                out += '"';
                qsizetype j = i + 1;
                for (; j < n && in[j] != c; ++j) {
                    if (in[j] == '\\' && j + 1 < n) {
                        const char escaped = in[++j];
                        if (escaped == 'x' && j + 2 < n) {
                            out += "\\u00";
                            out += in.sliced(j + 1, 2);
                            j += 2;
                        } else if (escaped == c && c != '"') {
                            out += escaped;
                        } else {
                            out += '\\';
                            out += escaped;
                        }
                    } else if (in[j] == '"') {
                        out += "\\\"";
                    } else if (in[j] == '\n') {
                        out += "\\n";
                    } else {
                        out += in[j];
                    }
                }
                out += '"';
                i = j + 1;
            } else if (c >= '0' && c <= '9') {
                qsizetype j = i;
                while (j < n && ((in[j] >= '0' && in[j] <= '9') || in[j] == '.' || in[j] == 'e' || in[j] == 'E'))
                    ++j;
                out += in.sliced(i, j - i);
                i = j;
            } else if (isNameStart(c)) {
                qsizetype j = i;
                while (j < n && (isNameStart(in[j]) || (in[j] >= '0' && in[j] <= '9')))
                    ++j;
                const QByteArrayView name = in.sliced(i, j - i);
                if (name == "true" || name == "false" || name == "null")
                    out += name;
                else
                    out += '"' + name.toByteArray() + '"';
                i = j;
            } else {
                out += c;
                ++i;
            }
        }
        return out;
    }

    struct Markers {
        QStringList css;
        QStringList xpath;
    };

    struct Rule {
        QString urlPattern;
        Markers markers;
    };

    // Reads a selector as the browser's tokenizer does: escapes skipped, strings whole, brackets and
    // parentheses nested. `visit(i, depth)` sees each character outside strings before it opens or
    // closes anything; `closers` ends as what is still owed, innermost first, an open string's
    // quote in front.
    template <typename Visit> void walk(const QString& selector, QString& closers, Visit visit)
    {
        QChar quote;
        for (qsizetype i = 0; i < selector.size(); ++i) {
            const QChar c = selector.at(i);
            if (c == u'\\') {
                ++i;
                continue;
            }
            if (!quote.isNull()) {
                quote = c == quote ? QChar() : quote;
                continue;
            }
            visit(i, closers.size());
            if (c == u'"' || c == u'\'')
                quote = c;
            else if (c == u'[' || c == u'(')
                closers.prepend(c == u'[' ? u']' : u')');
            else if ((c == u']' || c == u')') && closers.startsWith(c))
                closers.remove(0, 1);
        }
        if (!quote.isNull())
            closers.prepend(quote);
    }

    // A selector alone may leave a string, bracket or parenthesis open (the browser closes them at
    // its end); in a list with others it would spoil the whole list.
    QString closed(const QString& selector)
    {
        QString closers;
        walk(selector, closers, [](qsizetype, qsizetype) {});
        return selector + closers;
    }

    bool isNameChar(QChar c) { return c.isLetterOrNumber() || c == u'-' || c == u'_' || c.unicode() > 0x7f; }

    // Splits a selector list at its top-level commas.
    QStringList alternatives(const QString& list)
    {
        QStringList parts;
        qsizetype from = 0;
        QString closers;
        walk(list, closers, [&](qsizetype i, qsizetype depth) {
            if (depth == 0 && list.at(i) == u',') {
                parts << list.mid(from, i - from).trimmed();
                from = i + 1;
            }
        });
        parts << list.mid(from).trimmed();
        return parts;
    }

    // A name the selector cannot match without: an id, else a class, else a tag, outside brackets
    // and parentheses (which may negate or offer alternatives), escapes read; none: empty.
    std::pair<char, QString> key(const QString& selector)
    {
        QString id;
        QString cls;
        QString tag;
        int depth = 0;
        QChar quote;
        bool compoundStart = true;
        const qsizetype n = selector.size();
        for (qsizetype i = 0; i < n;) {
            const QChar c = selector.at(i);
            if (!quote.isNull() || c == u'"' || c == u'\'') {
                quote = quote.isNull() ? c : (c == quote ? QChar() : quote);
                i += c == u'\\' ? 2 : 1;
                continue;
            }
            depth += (c == u'[' || c == u'(') ? 1 : (c == u']' || c == u')') ? -1 : 0;
            if (depth > 0 || c == u']' || c == u')' || c == u'*') {
                compoundStart = false;
                i += c == u'\\' ? 2 : 1;
                continue;
            }
            if (c == u' ' || c == u'>' || c == u'+' || c == u'~') {
                compoundStart = true;
                ++i;
                continue;
            }
            const bool sigil = c == u'#' || c == u'.' || c == u':';
            qsizetype j = sigil ? i + 1 : i;
            while (j < n && selector.at(j) == u':')
                ++j;
            QString name;
            while (j < n && (isNameChar(selector.at(j)) || selector.at(j) == u'\\')) {
                if (selector.at(j) != u'\\') {
                    name += selector.at(j++);
                    continue;
                }
                // \31 (hex, then an optional space) or \: (the character itself).
                qsizetype h = j + 1;
                while (h < n && h < j + 7 && isxdigit(selector.at(h).toLatin1()))
                    ++h;
                if (h > j + 1) {
                    name += QChar(selector.mid(j + 1, h - j - 1).toUInt(nullptr, 16));
                    j = h < n && selector.at(h) == u' ' ? h + 1 : h;
                } else if (j + 1 < n) {
                    name += selector.at(j + 1);
                    j += 2;
                } else {
                    ++j;
                }
            }
            if (c == u'#' && id.isEmpty())
                id = name;
            else if (c == u'.' && cls.isEmpty())
                cls = name;
            else if (!sigil && compoundStart && tag.isEmpty())
                tag = name;
            compoundStart = false;
            i = std::max(j, i + 1);
        }
        if (!id.isEmpty())
            return { 'i', id };
        if (!cls.isEmpty())
            return { 'c', cls };
        if (!tag.isEmpty())
            return { 't', tag.toLower() };
        return { 'q', {} };
    }

    // The longest text every address the pattern matches contains, read outside groups, classes
    // and counts; empty when unsure (alternatives).
    QString requiredText(const QString& pattern)
    {
        if (pattern.contains(u'|'))
            return {};
        QString longest;
        QString run;
        const auto end = [&] {
            if (run.size() > longest.size())
                longest = run;
            run.clear();
        };
        const auto optional = [&pattern](qsizetype at) {
            return at < pattern.size() && (pattern.at(at) == u'?' || pattern.at(at) == u'*' || pattern.at(at) == u'{');
        };
        int depth = 0;
        for (qsizetype i = 0; i < pattern.size(); ++i) {
            const QChar c = pattern.at(i);
            const bool escaped = c == u'\\' && i + 1 < pattern.size();
            const QChar literal = escaped ? pattern.at(i + 1) : c;
            if (escaped)
                ++i;
            if (!escaped && (c == u'(' || c == u'[' || c == u'{'))
                ++depth;
            if (!escaped && (c == u')' || c == u']' || c == u'}')) {
                --depth;
                end();
                continue;
            }
            const bool plain = escaped ? !literal.isLetterOrNumber()
                                       : (c.isLetterOrNumber() || c == u'/' || c == u':' || c == u'-' || c == u'_');
            if (depth == 0 && plain && !optional(i + 1))
                run += literal;
            else
                end();
        }
        end();
        return longest;
    }

    bool addMarker(const QJsonValue& value, Markers& out)
    {
        const QString selector = value.isArray() ? value.toArray().first().toString() : value.toString();
        if (selector.isEmpty())
            return false;
        if (selector.startsWith(QLatin1String("xpath/")))
            out.xpath << selector.mid(6);
        else
            out.css << closed(selector);
        return true;
    }

    // What a step needs in the document before it can pass; false when it needs nothing we can see
    // from outside the page's scripts (an eval, a cookie).
    bool stepMarkers(const QJsonObject& step, const QJsonArray& strings, Markers& out)
    {
        for (const QLatin1String key : { QLatin1String("e"), QLatin1String("v") })
            if (step.contains(key))
                return addMarker(strings.at(step.value(key).toInt()), out);
        for (const QLatin1String key : { QLatin1String("exists"), QLatin1String("visible") })
            if (step.contains(key))
                return addMarker(step.value(key), out);
        if (step.contains(QLatin1String("any"))) {
            Markers alternatives;
            for (const QJsonValue alternative : step.value(QLatin1String("any")).toArray())
                if (!stepMarkers(alternative.toObject(), strings, alternatives))
                    return false;
            out.css += alternatives.css;
            out.xpath += alternatives.xpath;
            return true;
        }
        return false;
    }

} // namespace

ConsentProbe consentProbe(const QString& librarySource)
{
    const QByteArray source = librarySource.toUtf8();
    const qsizetype start = source.indexOf(kRulesStart);
    if (start < 0)
        return {};
    const qsizetype from = start + kRulesStart.size();
    const qsizetype lineEnd = source.indexOf('\n', from);
    QByteArrayView literal
        = QByteArrayView(source).sliced(from, (lineEnd < 0 ? source.size() : lineEnd) - from).trimmed();
    if (literal.endsWith(';'))
        literal.chop(1);
    QJsonParseError error;
    const QJsonObject rules = QJsonDocument::fromJson(literalAsJson(literal), &error).object();
    const QJsonArray strings = rules.value(QLatin1String("s")).toArray();
    const QJsonArray list = rules.value(QLatin1String("r")).toArray();
    if (error.error != QJsonParseError::NoError || list.isEmpty())
        return {};
    // Each rule's detection passes all its steps: the first step that needs a marker is enough.
    // A rule found by script alone (one in this version) is left to the globals in kProbe. A rule of
    // some sites only runs on pages whose address matches its pattern.
    QList<Rule> found { Rule { {}, Markers { kCodePlatforms, {} } } };
    for (const QJsonValue rule : list) {
        Rule marked { rule.toArray().at(kUrlPattern).toString(), {} };
        for (const QJsonValue step : rule.toArray().at(kDetectCmp).toArray())
            if (stepMarkers(step.toObject(), strings, marked.markers)) {
                found << marked;
                break;
            }
    }
    QStringList patterns { QString() };
    QJsonArray markers;
    QJsonArray xpaths;
    QSet<QString> seen;
    for (const Rule& rule : std::as_const(found)) {
        qsizetype pattern = patterns.indexOf(rule.urlPattern);
        if (pattern < 0) {
            pattern = patterns.size();
            patterns << rule.urlPattern;
        }
        for (const QString& list : rule.markers.css)
            for (const QString& selector : alternatives(list)) {
                const auto [kind, name] = key(selector);
                const QString entry = QString::number(pattern) + u' ' + selector;
                if (!seen.contains(entry))
                    markers.append(QJsonArray { QString(QLatin1Char(kind)), name, selector, pattern });
                seen.insert(entry);
            }
        for (const QString& xpath : rule.markers.xpath)
            xpaths.append(QJsonArray { QString(QLatin1Char('q')), QString(), xpath, pattern });
    }
    const auto json = [](const QJsonArray& array) {
        return QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Compact));
    };
    QJsonArray patternTexts;
    for (const QString& pattern : std::as_const(patterns))
        patternTexts.append(QJsonArray { pattern, requiredText(pattern) });
    QJsonArray generic;
    for (const QJsonValue marker : std::as_const(markers))
        if (marker.toArray().at(3).toInt() == 0)
            generic.append(marker);
    return { kProbe.arg(json(generic), json(xpaths), json(patternTexts), QStringLiteral("true")),
        kProbe.arg(json(markers), json(xpaths), json(patternTexts), QStringLiteral("false")) };
}

} // namespace Capture
