// Text with attribute runs: the value type every script text travels in.
#pragma once

#include "platform/text/TextAttributes.h"
#include "platform/text/TextRange.h"

#include <QSharedDataPointer>
#include <QString>
#include <QVariant>

#include <functional>
#include <vector>

namespace platform {

// A value: UTF-16 text (every location and range is in UTF-16 units) plus attribute runs that
// cover the text without gaps. Copies are cheap and independent (copy-on-write); a copy shares
// the EmbeddedBookmark objects of the original, as they are identities, not values.
//
// Runs are kept normalised: no empty runs, no two neighbours with equal attributes, so two
// strings are equal exactly when their texts and their attributes at every position are.
// A range outside the text is a programming error and stops the program.
// Not thread-safe for writing; distinct copies may be used on distinct threads.
class AttributedString {
public:
    struct Run {
        TextRange range;
        Attributes attributes;
        friend bool operator==(const Run&, const Run&) = default;
    };
    // A run of one attribute: `value` is invalid where the attribute is absent.
    struct ValueRun {
        TextRange range;
        QVariant value;
    };

    AttributedString();
    explicit AttributedString(const QString& text, const Attributes& attributes = {});
    AttributedString(const AttributedString&);
    AttributedString(AttributedString&&) noexcept;
    AttributedString& operator=(const AttributedString&);
    AttributedString& operator=(AttributedString&&) noexcept;
    ~AttributedString();

    const QString& string() const;
    int length() const;
    bool isEmpty() const { return length() == 0; }
    TextRange fullRange() const { return {0, length()}; }

    // The attributes at `location` (< length); `effectiveRange` receives the whole run.
    Attributes attributes(int location, TextRange* effectiveRange = nullptr) const;
    QVariant attribute(QStringView name, int location, TextRange* effectiveRange = nullptr) const;

    // The runs of all attributes over `range`, clipped to it, in text order.
    std::vector<Run> runs(TextRange range) const;
    std::vector<Run> runs() const { return runs(fullRange()); }
    // The runs of one attribute over `range`: neighbours with equal values merged; runs where the
    // attribute is absent are included with an invalid value, so the runs cover the range.
    std::vector<ValueRun> runs(QStringView name, TextRange range) const;

    void setAttributes(const Attributes& attributes, TextRange range);
    void addAttributes(const Attributes& attributes, TextRange range);
    void addAttribute(QStringView name, const QVariant& value, TextRange range);
    void removeAttribute(QStringView name, TextRange range);
    // Calls `change` once for each run within `range` (split at its ends) and normalises after.
    void modifyAttributes(TextRange range, const std::function<void(Attributes&)>& change);

    AttributedString substring(TextRange range) const;
    // New characters take the attributes of the first replaced character; for an empty range,
    // of the character before it, else of the one after it, else none.
    void replaceCharacters(TextRange range, const QString& text);
    void replaceCharacters(TextRange range, const AttributedString& text);
    void deleteCharacters(TextRange range) { replaceCharacters(range, AttributedString()); }
    void insert(int location, const AttributedString& text) { replaceCharacters({location, 0}, text); }
    void append(const AttributedString& text);
    void append(const QString& text, const Attributes& attributes);

    friend bool operator==(const AttributedString& a, const AttributedString& b);

    class Data;

private:
    void checkRange(TextRange range, const char* operation) const;
    QSharedDataPointer<Data> d;
};

} // namespace platform

Q_DECLARE_METATYPE(platform::AttributedString)
