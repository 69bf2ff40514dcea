#include "review/desloplint.h"

#include "foundation/json.h"
#include "foundation/text.h"
#include "review/sidefiles.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QRegularExpression>

#include <algorithm>
#include <memory>
#include <vector>

// Q_INIT_RESOURCE must be used outside any namespace.
static void initBundledResources()
{
    Q_INIT_RESOURCE(review_resources);
}

namespace review::DeslopLint {

using namespace Qt::StringLiterals;
using Card = FixCardStore::StoredFixCard;

// --- Configuration -----------------------------------------------------------------

namespace {

bool readString(const QJsonObject &o, QLatin1StringView key, QString &out)
{
    const QJsonValue v = o.value(key);
    if (!v.isString())
        return false;
    out = v.toString();
    return true;
}

bool readInteger(const QJsonObject &o, QLatin1StringView key, qint64 &out)
{
    const auto v = foundation::json::wholeInteger(o.value(key));
    if (!v)
        return false;
    out = *v;
    return true;
}

std::optional<Config::Tier> decodeTier(const QJsonValue &value)
{
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject o = value.toObject();
    Config::Tier tier;
    if (!readString(o, "name"_L1, tier.name) || !readString(o, "note"_L1, tier.note)
        || !readInteger(o, "maxAllowed"_L1, tier.maxAllowed) || !o.value("phrases"_L1).isArray())
        return std::nullopt;
    for (const QJsonValue &entry : o.value("phrases"_L1).toArray()) {
        if (!entry.isObject())
            return std::nullopt;
        const QJsonObject p = entry.toObject();
        Config::Tier::Phrase phrase;
        if (!readString(p, "phrase"_L1, phrase.phrase))
            return std::nullopt;
        const QJsonValue replacement = p.value("replacement"_L1);
        if (replacement.isString())
            phrase.replacement = replacement.toString();
        else if (!replacement.isUndefined() && !replacement.isNull())
            return std::nullopt;
        tier.phrases.append(phrase);
    }
    return tier;
}

} // namespace

std::optional<Config> Config::fromJson(const QByteArray &bytes)
{
    const std::optional<QJsonObject> parsed = foundation::json::parseObject(bytes);
    if (!parsed)
        return std::nullopt;
    const QJsonObject &o = *parsed;
    Config config;
    if (!readInteger(o, "emDashBudget"_L1, config.emDashBudget) || !o.value("tiers"_L1).isArray())
        return std::nullopt;
    for (const QJsonValue &value : o.value("tiers"_L1).toArray()) {
        auto tier = decodeTier(value);
        if (!tier)
            return std::nullopt;
        config.tiers.append(*std::move(tier));
    }
    return config;
}

QByteArray Config::toJson() const
{
    QJsonArray tierArray;
    for (const Tier &tier : tiers) {
        QJsonArray phraseArray;
        for (const Tier::Phrase &phrase : tier.phrases) {
            QJsonObject p{{u"phrase"_s, phrase.phrase}};
            if (phrase.replacement)
                p.insert(u"replacement"_s, *phrase.replacement);
            phraseArray.append(p);
        }
        tierArray.append(QJsonObject{{u"name"_s, tier.name},
                                     {u"note"_s, tier.note},
                                     {u"maxAllowed"_s, tier.maxAllowed},
                                     {u"phrases"_s, phraseArray}});
    }
    return foundation::json::compact(QJsonObject{{u"emDashBudget"_s, emDashBudget}, {u"tiers"_s, tierArray}});
}

Config loadConfig(const std::optional<QString> &folder)
{
    constexpr qint64 kConfigCap = 4 * 1024 * 1024;
    if (folder) {
        if (const auto bytes = detail::readSideFile(*folder + u'/' + kConfigFileName, kConfigCap)) {
            if (auto config = Config::fromJson(*bytes))
                return *std::move(config);
        }
    }
    static const bool initialised = (initBundledResources(), true);
    Q_UNUSED(initialised);
    QFile bundled(kBundledConfigPath);
    if (bundled.open(QIODevice::ReadOnly)) {
        if (auto config = Config::fromJson(bundled.read(kConfigCap)))
            return *std::move(config);
    }
    return Config{};
}

// --- Compiled phrases --------------------------------------------------------------

namespace {

// Multi-pattern search over UTF-16 code units (Aho-Corasick): a dense
// transition table for ASCII, sparse transitions above.
class Automaton {
public:
    Automaton() { addNode(); }

    // The id of a key; equal keys share one id.
    int addKey(const QString &key)
    {
        int node = 0;
        for (const QChar ch : key) {
            const char16_t c = ch.unicode();
            int next = child(node, c);
            if (next < 0) {
                next = addNode();
                m_children[node].push_back({c, next});
            }
            node = next;
        }
        if (m_output[node] < 0) {
            m_output[node] = int(m_keyLength.size());
            m_keyLength.push_back(key.size());
        }
        return m_output[node];
    }

    void build()
    {
        const int count = int(m_children.size());
        m_fail.assign(count, 0);
        m_outLink.assign(count, -1);
        m_ascii.assign(std::size_t(count) * 128, -1);
        std::vector<int> queue;
        queue.reserve(count);
        for (const auto &[c, next] : m_children[0]) {
            if (c < 128)
                m_ascii[c] = next;
            queue.push_back(next);
        }
        for (int c = 0; c < 128; ++c) {
            if (m_ascii[c] < 0)
                m_ascii[c] = 0;
        }
        for (std::size_t i = 0; i < queue.size(); ++i) {
            const int u = queue[i];
            const int f = m_fail[u];
            m_outLink[u] = m_output[f] >= 0 ? f : m_outLink[f];
            for (const auto &[c, next] : m_children[u]) {
                if (c < 128)
                    m_ascii[std::size_t(u) * 128 + c] = next;
                m_fail[next] = step(f, c);
                queue.push_back(next);
            }
            for (int c = 0; c < 128; ++c) {
                int &slot = m_ascii[std::size_t(u) * 128 + c];
                if (slot < 0)
                    slot = m_ascii[std::size_t(f) * 128 + c];
            }
        }
        for (int node = 0; node < count; ++node)
            m_reports.push_back(m_output[node] >= 0 || m_outLink[node] >= 0);
    }

    qsizetype keyLength(int id) const { return m_keyLength[id]; }
    int keyCount() const { return int(m_keyLength.size()); }

    // Calls hit(keyID, endExclusive) for every key occurrence, overlaps included.
    template<typename Hit>
    void scan(const QString &text, Hit &&hit) const
    {
        const char16_t *p = reinterpret_cast<const char16_t *>(text.constData());
        const qsizetype n = text.size();
        int node = 0;
        for (qsizetype i = 0; i < n; ++i) {
            const char16_t c = p[i];
            node = c < 128 ? m_ascii[std::size_t(node) * 128 + c] : step(node, c);
            if (!m_reports[node])
                continue;
            for (int t = m_output[node] >= 0 ? node : m_outLink[node]; t >= 0; t = m_outLink[t])
                hit(m_output[t], i + 1);
        }
    }

private:
    int addNode()
    {
        m_children.emplace_back();
        m_output.push_back(-1);
        return int(m_children.size()) - 1;
    }

    int child(int node, char16_t c) const
    {
        for (const auto &[k, next] : m_children[node]) {
            if (k == c)
                return next;
        }
        return -1;
    }

    // The transition from node on c, following failure links (the ASCII rows
    // of nodes already built are complete).
    int step(int node, char16_t c) const
    {
        if (c < 128 && !m_ascii.empty() && m_ascii[std::size_t(node) * 128 + c] >= 0)
            return m_ascii[std::size_t(node) * 128 + c];
        for (;;) {
            const int next = child(node, c);
            if (next >= 0)
                return next;
            if (node == 0)
                return 0;
            node = m_fail[node];
        }
    }

    std::vector<std::vector<std::pair<char16_t, int>>> m_children;
    std::vector<int> m_output; // key id ending here, or -1
    std::vector<int> m_fail;
    std::vector<int> m_outLink; // nearest proper suffix node with a key
    std::vector<int> m_ascii;
    std::vector<bool> m_reports;
    std::vector<qsizetype> m_keyLength;
};

struct CompiledPhrase {
    int tier = 0;
    int index = 0;              // within its tier
    QRegularExpression pattern; // the phrase's pattern as the lint defines it
    int key = -1;               // its case-folded form in the automaton
};

// The phrases of one set of tiers, compiled once and shared by every call
// with equal tiers.
struct Compiled {
    QList<Config::Tier> tiers;
    std::vector<CompiledPhrase> phrases; // usable phrases in tier and phrase order
    Automaton automaton;
};

std::shared_ptr<const Compiled> compile(const QList<Config::Tier> &tiers)
{
    auto compiled = std::make_shared<Compiled>();
    compiled->tiers = tiers;
    for (int t = 0; t < tiers.size(); ++t) {
        for (int p = 0; p < tiers[t].phrases.size(); ++p) {
            const Config::Tier::Phrase &phrase = tiers[t].phrases[p];
            if (phrase.phrase.trimmed().isEmpty())
                continue;
            CompiledPhrase entry;
            entry.tier = t;
            entry.index = p;
            entry.pattern = QRegularExpression(u"(?i)(?<![A-Za-z])"_s + QRegularExpression::escape(phrase.phrase)
                                               + u"(?![A-Za-z])"_s);
            if (!entry.pattern.isValid())
                continue;
            const QString key = phrase.phrase.toCaseFolded();
            if (key.size() == phrase.phrase.size())
                entry.key = compiled->automaton.addKey(key);
            compiled->phrases.push_back(std::move(entry));
        }
    }
    compiled->automaton.build();
    return compiled;
}

std::shared_ptr<const Compiled> compiledFor(const QList<Config::Tier> &tiers)
{
    static QMutex mutex;
    static std::vector<std::shared_ptr<const Compiled>> cache; // most recent first
    constexpr std::size_t kCacheSize = 4;
    {
        const QMutexLocker lock(&mutex);
        for (auto it = cache.begin(); it != cache.end(); ++it) {
            if ((*it)->tiers == tiers) {
                std::rotate(cache.begin(), it, it + 1);
                return cache.front();
            }
        }
    }
    auto compiled = compile(tiers);
    const QMutexLocker lock(&mutex);
    cache.insert(cache.begin(), compiled);
    if (cache.size() > kCacheSize)
        cache.pop_back();
    return compiled;
}

// --- Matching ----------------------------------------------------------------------------

struct Hits {
    qsizetype count = 0;
    qsizetype firstStart = -1;
    qsizetype firstLength = 0;
};

// What (?i)[A-Za-z] matches in UTF mode: the ASCII letters plus the two
// characters that fold onto one (LATIN SMALL LETTER LONG S, KELVIN SIGN).
bool isCaselessAsciiLetter(char16_t c)
{
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || c == 0x017F || c == 0x212A;
}

// All phrase hits by one pass over the case-folded text. Simple case folding
// keeps every UTF-16 length and equals PCRE's caseless matching, so a folded
// key occurrence whose neighbours are not letters is exactly a match of the
// phrase's pattern; non-overlapping matches are taken left to right as the
// regular expression engine takes them.
std::vector<Hits> matchFolded(const Compiled &compiled, const QString &text, const QString &folded)
{
    const Automaton &automaton = compiled.automaton;
    std::vector<std::vector<qsizetype>> starts(automaton.keyCount());
    automaton.scan(folded, [&](int key, qsizetype end) { starts[key].push_back(end - automaton.keyLength(key)); });

    const qsizetype n = text.size();
    const char16_t *p = reinterpret_cast<const char16_t *>(text.constData());
    std::vector<Hits> result(compiled.phrases.size());
    for (std::size_t i = 0; i < compiled.phrases.size(); ++i) {
        const int key = compiled.phrases[i].key;
        if (key < 0)
            continue;
        const qsizetype length = automaton.keyLength(key);
        Hits &hits = result[i];
        qsizetype resume = 0;
        for (const qsizetype start : starts[key]) {
            const qsizetype end = start + length;
            if (start < resume || (start > 0 && isCaselessAsciiLetter(p[start - 1]))
                || (end < n && isCaselessAsciiLetter(p[end])))
                continue;
            if (hits.count++ == 0) {
                hits.firstStart = start;
                hits.firstLength = length;
            }
            resume = end;
        }
    }
    return result;
}

Hits matchPattern(const QRegularExpression &pattern, const QString &text)
{
    Hits hits;
    auto it = pattern.globalMatch(text);
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        if (hits.count++ == 0) {
            hits.firstStart = m.capturedStart();
            hits.firstLength = m.capturedLength();
        }
    }
    return hits;
}

// The occurrence number of a quote at a position, as the card store counts
// occurrences (whole clusters, canonical equivalence, no overlaps); 1 when
// the position is not one of them. The text is prepared once per lint call.
class Occurrences {
public:
    explicit Occurrences(const QString &text) : m_searcher(text) {}

    qint64 at(const QString &quote, qsizetype position) const
    {
        qint64 number = 0;
        qsizetype from = 0;
        while (const auto hit = m_searcher.find(quote, from)) {
            if (hit->start > position)
                break;
            ++number;
            if (hit->start == position)
                return number;
            from = hit->end();
        }
        return 1;
    }

private:
    foundation::text::QuoteSearcher m_searcher;
};

QString capitalisedLike(const QString &replacement, const QString &quote)
{
    if (replacement.isEmpty() || quote.isEmpty())
        return replacement;
    const char32_t first = quote.toUcs4().front();
    if (!QChar::isUpper(first))
        return replacement;
    const QList<uint> points = replacement.toUcs4();
    const QString head = QString::fromUcs4(reinterpret_cast<const char32_t *>(points.constData()), 1).toUpper();
    return head + replacement.mid(QChar::requiresSurrogates(points.front()) ? 2 : 1);
}

bool sameAnchor(const QString &pattern, const Card::Anchor &anchor, const QString &otherPattern,
                const Card::Anchor &other)
{
    return pattern == otherPattern && anchor.quote == other.quote && anchor.occurrence == other.occurrence;
}

} // namespace

// --- Linting ----------------------------------------------------------------------------

QList<Finding> lint(const QString &text, const QList<Config::Tier> &tiers, qint64 emDashBudget)
{
    QList<Finding> findings;
    const qsizetype dashes = text.count(QChar(0x2014));
    if (dashes > emDashBudget) {
        Finding f;
        f.pattern = u"em-dash density"_s;
        f.problem = QString::number(dashes) + u" em-dashes in this piece — the budget is "_s
                    + QString::number(emDashBudget) + u". "_s
                    + u"Most separation wants a comma or a period; 1-2 earned dashes are plenty. "_s
                    + u"The em-dash habit is the prompt-resistant AI tell."_s;
        f.diagnosticQuestion = u"Does this aside need an em-dash, or would a comma or a period carry it?"_s;
        f.lane = Card::Lane::demonstration;
        f.anchor = Card::Anchor{u"—"_s, 1, std::nullopt};
        findings.append(f);
    }
    if (tiers.isEmpty())
        return findings;

    const std::shared_ptr<const Compiled> compiled = compiledFor(tiers);
    std::vector<Hits> hits;
    const QString folded = QStringView(text).isValidUtf16() ? text.toCaseFolded() : QString();
    const bool fast = !folded.isNull() && folded.size() == text.size();
    if (fast)
        hits = matchFolded(*compiled, text, folded);
    else
        hits.resize(compiled->phrases.size());
    for (std::size_t i = 0; i < compiled->phrases.size(); ++i) {
        // Without the folded text, or for a phrase whose folded form changes
        // length, the phrase's own pattern does the search.
        if (!fast || compiled->phrases[i].key < 0)
            hits[i] = matchPattern(compiled->phrases[i].pattern, text);
    }

    Occurrences occurrences(text);
    std::size_t i = 0;
    for (int t = 0; t < compiled->tiers.size(); ++t) {
        const Config::Tier &tier = compiled->tiers[t];
        std::vector<std::pair<qsizetype, Finding>> tierHits;
        for (; i < compiled->phrases.size() && compiled->phrases[i].tier == t; ++i) {
            const Hits &h = hits[i];
            if (h.count == 0 || h.count <= tier.maxAllowed)
                continue;
            const Config::Tier::Phrase &phrase = tier.phrases[compiled->phrases[i].index];
            Finding f;
            f.pattern = phrase.phrase;
            f.problem = tier.name + u" AI vocabulary — "_s + tier.note + u". Appears "_s + QString::number(h.count)
                        + u"× in this piece. "_s + u"Replace with the plain word."_s;
            f.diagnosticQuestion = u"What plain word says this instead?"_s;
            f.anchor.quote = text.mid(h.firstStart, h.firstLength);
            f.anchor.occurrence = occurrences.at(f.anchor.quote, h.firstStart);
            if (phrase.replacement) {
                f.fix = capitalisedLike(*phrase.replacement, f.anchor.quote);
                f.lane = Card::Lane::mechanical;
            } else {
                f.lane = Card::Lane::demonstration;
            }
            tierHits.emplace_back(h.firstStart, std::move(f));
        }
        std::stable_sort(tierHits.begin(), tierHits.end(),
                         [](const auto &a, const auto &b) { return a.first < b.first; });
        for (auto &[position, finding] : tierHits) {
            Q_UNUSED(position);
            // A phrase listed twice (in two tiers, say) is filed once.
            const bool seen = std::any_of(findings.cbegin(), findings.cend(), [&](const Finding &kept) {
                return sameAnchor(kept.pattern, kept.anchor, finding.pattern, finding.anchor);
            });
            if (!seen)
                findings.append(std::move(finding));
        }
    }
    return findings;
}

// --- Filing -----------------------------------------------------------------------------

void fileLintCards(const QString &text, const QString &pieceID, const QString &postPath, library::PassKind pass,
                   const std::optional<QString> &configFolder)
{
    const Config config = loadConfig(configFolder);
    const QList<Finding> findings = lint(text, config.tiers, config.emDashBudget);
    if (findings.isEmpty())
        return;

    QList<Card> open;
    for (Card &card : FixCardStore::cardsForPiece(postPath)) {
        if (card.status == Card::Status::open)
            open.append(std::move(card));
    }

    QList<FixCardStore::Input> inputs;
    for (const Finding &finding : findings) {
        const bool alreadyOpen = std::any_of(open.cbegin(), open.cend(), [&](const Card &card) {
            return sameAnchor(card.pattern, card.anchor, finding.pattern, finding.anchor);
        });
        if (alreadyOpen)
            continue;
        FixCardStore::Input input;
        input.pattern = finding.pattern;
        input.problem = finding.problem;
        input.diagnosticQuestion = finding.diagnosticQuestion;
        input.fix = finding.fix;
        input.anchor = finding.anchor;
        input.lane = finding.lane;
        input.emitter = Card::Emitter::lint;
        input.provenance =
            Card::Provenance{pieceID, std::nullopt, std::nullopt, pass == library::PassKind::pass1 ? 1 : 2};
        inputs.append(input);
    }
    if (inputs.isEmpty())
        return;
    try {
        FixCardStore::write(postPath, inputs);
    } catch (...) {
        // The Pass starts all the same; its lint cards are lost.
    }
}

} // namespace review::DeslopLint
