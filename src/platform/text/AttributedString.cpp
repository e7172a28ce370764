#include "platform/text/AttributedString.h"

#include "base/Log.h"

#include <QSharedData>

#include <algorithm>
#include <string>

namespace platform {

namespace {
struct StoredRun {
    int start;
    Attributes attributes;
    friend bool operator==(const StoredRun&, const StoredRun&) = default;
};
} // namespace

// Runs are sorted by start; the first starts at 0 and each reaches the next one's start (the
// last reaches the text's end). Empty text has no runs.
class AttributedString::Data : public QSharedData {
public:
    QString text;
    std::vector<StoredRun> runs;

    int length() const { return static_cast<int>(text.size()); }
    int runEnd(std::size_t i) const { return i + 1 < runs.size() ? runs[i + 1].start : length(); }

    // Index of the run containing `position` (< length).
    std::size_t runAt(int position) const {
        auto it = std::upper_bound(runs.begin(), runs.end(), position,
                                   [](int p, const StoredRun& r) { return p < r.start; });
        return static_cast<std::size_t>(it - runs.begin()) - 1;
    }

    // Calls visit(stored run, its part inside `range`) for each run that meets the non-empty
    // `range`, in order.
    template <class Visit> void forEachRunIn(TextRange range, Visit visit) const {
        for (std::size_t i = runAt(range.location); i < runs.size() && runs[i].start < range.end(); ++i) {
            const int start = std::max(runs[i].start, range.location);
            const int end = std::min(runEnd(i), range.end());
            visit(runs[i], TextRange{start, end - start});
        }
    }

    // Makes a run start at `position` and returns its index (runs.size() when position == length).
    std::size_t splitAt(int position) {
        if (position >= length()) {
            return runs.size();
        }
        const std::size_t i = runAt(position);
        if (runs[i].start == position) {
            return i;
        }
        runs.insert(runs.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                    StoredRun{position, runs[i].attributes});
        return i + 1;
    }

    // Merges equal neighbours among runs [first - 1, last + 1].
    void coalesce(std::size_t first, std::size_t last) {
        if (runs.empty()) {
            return;
        }
        std::size_t from = first > 0 ? first - 1 : 0;
        std::size_t to = std::min(last + 1, runs.size() - 1);
        std::size_t i = from + 1;
        while (i <= to && i < runs.size()) {
            if (runs[i].attributes == runs[i - 1].attributes) {
                runs.erase(runs.begin() + static_cast<std::ptrdiff_t>(i));
                --to;
            } else {
                ++i;
            }
        }
    }
};

AttributedString::AttributedString()
    : d(new Data) {}

AttributedString::AttributedString(const QString& text, const Attributes& attributes)
    : d(new Data) {
    d->text = text;
    if (!text.isEmpty()) {
        d->runs.push_back({0, attributes});
    }
}

AttributedString::AttributedString(const AttributedString&) = default;
// Moves copy the shared pointer: a moved-from string stays a valid (unchanged) value.
AttributedString::AttributedString(AttributedString&& other) noexcept
    : d(other.d) {}
AttributedString& AttributedString::operator=(const AttributedString&) = default;
AttributedString& AttributedString::operator=(AttributedString&& other) noexcept {
    d = other.d;
    return *this;
}
AttributedString::~AttributedString() = default;

const QString& AttributedString::string() const {
    return d->text;
}

int AttributedString::length() const {
    return d->length();
}

void AttributedString::checkRange(TextRange range, const char* operation) const {
    if (range.location < 0 || range.length < 0 || range.location > length() - range.length) {
        base::fatal(std::string("AttributedString::") + operation + ": range {" +
                    std::to_string(range.location) + ", " + std::to_string(range.length) +
                    "} out of bounds of length " + std::to_string(length()));
    }
}

Attributes AttributedString::attributes(int location, TextRange* effectiveRange) const {
    checkRange({location, 1}, "attributes");
    const std::size_t i = d->runAt(location);
    if (effectiveRange) {
        *effectiveRange = {d->runs[i].start, d->runEnd(i) - d->runs[i].start};
    }
    return d->runs[i].attributes;
}

QVariant AttributedString::attribute(QStringView name, int location, TextRange* effectiveRange) const {
    checkRange({location, 1}, "attribute");
    const std::size_t i = d->runAt(location);
    QVariant value = d->runs[i].attributes.value(name);
    if (effectiveRange) {
        std::size_t first = i;
        while (first > 0 && d->runs[first - 1].attributes.value(name) == value) {
            --first;
        }
        std::size_t last = i;
        while (last + 1 < d->runs.size() && d->runs[last + 1].attributes.value(name) == value) {
            ++last;
        }
        *effectiveRange = {d->runs[first].start, d->runEnd(last) - d->runs[first].start};
    }
    return value;
}

std::vector<AttributedString::Run> AttributedString::runs(TextRange range) const {
    checkRange(range, "runs");
    std::vector<Run> result;
    if (range.isEmpty()) {
        return result;
    }
    d->forEachRunIn(range, [&](const StoredRun& run, TextRange part) {
        result.push_back({part, run.attributes});
    });
    return result;
}

std::vector<AttributedString::ValueRun> AttributedString::runs(QStringView name, TextRange range) const {
    checkRange(range, "runs");
    std::vector<ValueRun> result;
    if (range.isEmpty()) {
        return result;
    }
    d->forEachRunIn(range, [&](const StoredRun& run, TextRange part) {
        QVariant value = run.attributes.value(name);
        if (!result.empty() && result.back().value == value) {
            result.back().range.length = part.end() - result.back().range.location;
            return;
        }
        result.push_back({part, std::move(value)});
    });
    return result;
}

void AttributedString::modifyAttributes(TextRange range, const std::function<void(Attributes&)>& change) {
    checkRange(range, "modifyAttributes");
    if (range.isEmpty()) {
        return;
    }
    Data* data = d.data();
    const std::size_t first = data->splitAt(range.location);
    const std::size_t end = data->splitAt(range.end());
    for (std::size_t i = first; i < end; ++i) {
        change(data->runs[i].attributes);
    }
    // Coalescing a long stretch in one pass keeps this linear.
    std::vector<StoredRun> merged;
    merged.reserve(data->runs.size());
    const std::size_t from = first > 0 ? first - 1 : 0;
    for (std::size_t i = 0; i < data->runs.size(); ++i) {
        if (i > from && i <= end && !merged.empty() && merged.back().attributes == data->runs[i].attributes) {
            continue;
        }
        merged.push_back(std::move(data->runs[i]));
    }
    data->runs = std::move(merged);
}

void AttributedString::setAttributes(const Attributes& attributes, TextRange range) {
    modifyAttributes(range, [&](Attributes& a) { a = attributes; });
}

void AttributedString::addAttributes(const Attributes& attributes, TextRange range) {
    modifyAttributes(range, [&](Attributes& a) { a.merge(attributes); });
}

void AttributedString::addAttribute(QStringView name, const QVariant& value, TextRange range) {
    modifyAttributes(range, [&](Attributes& a) { a.setValue(name, value); });
}

void AttributedString::removeAttribute(QStringView name, TextRange range) {
    modifyAttributes(range, [&](Attributes& a) { a.remove(name); });
}

AttributedString AttributedString::substring(TextRange range) const {
    checkRange(range, "substring");
    AttributedString result;
    if (range.isEmpty()) {
        return result;
    }
    result.d->text = d->text.mid(range.location, range.length);
    for (const Run& run : runs(range)) {
        result.d->runs.push_back({run.range.location - range.location, run.attributes});
    }
    return result;
}

void AttributedString::replaceCharacters(TextRange range, const QString& text) {
    checkRange(range, "replaceCharacters");
    Attributes inherited;
    if (range.length > 0) {
        inherited = attributes(range.location);
    } else if (range.location > 0) {
        inherited = attributes(range.location - 1);
    } else if (length() > 0) {
        inherited = attributes(0);
    }
    replaceCharacters(range, AttributedString(text, inherited));
}

void AttributedString::replaceCharacters(TextRange range, const AttributedString& text) {
    checkRange(range, "replaceCharacters");
    if (range.isEmpty() && text.isEmpty()) {
        return;
    }
    const AttributedString incoming = text; // `text` may be *this
    Data* data = d.data();
    const std::size_t first = data->splitAt(range.location);
    const std::size_t end = data->splitAt(range.end());
    const int delta = incoming.length() - range.length;
    data->runs.erase(data->runs.begin() + static_cast<std::ptrdiff_t>(first),
                     data->runs.begin() + static_cast<std::ptrdiff_t>(end));
    for (std::size_t i = first; i < data->runs.size(); ++i) {
        data->runs[i].start += delta;
    }
    std::vector<StoredRun> inserted;
    inserted.reserve(incoming.d->runs.size());
    for (const StoredRun& run : incoming.d->runs) {
        inserted.push_back({run.start + range.location, run.attributes});
    }
    data->runs.insert(data->runs.begin() + static_cast<std::ptrdiff_t>(first), inserted.begin(),
                      inserted.end());
    data->text.replace(range.location, range.length, incoming.d->text);
    const std::size_t last = inserted.empty() ? first : first + inserted.size() - 1;
    data->coalesce(first, last);
}

void AttributedString::append(const AttributedString& text) {
    replaceCharacters({length(), 0}, text);
}

void AttributedString::append(const QString& text, const Attributes& attributes) {
    if (text.isEmpty()) {
        return;
    }
    Data* data = d.data();
    if (data->runs.empty() || !(data->runs.back().attributes == attributes)) {
        data->runs.push_back({data->length(), attributes});
    }
    data->text.append(text);
}

bool operator==(const AttributedString& a, const AttributedString& b) {
    return a.d == b.d || (a.d->text == b.d->text && a.d->runs == b.d->runs);
}

} // namespace platform
