#pragma once
// The two review Passes: Pass 1 at paragraph level and up, Pass 2 at sentence
// level and below. The raw values are stored and shown; the instructions that
// open a Pass live with the engine link.

#include "foundation/enumtext.h"

#include <QHashFunctions>
#include <QList>
#include <QString>
#include <optional>

namespace library {

struct PassKindCases {
    enum Value { pass1, pass2 };
    // Also the label shown and sent for the Pass.
    static constexpr auto texts = foundation::enumTexts<Value>({{pass1, u"Pass 1"}, {pass2, u"Pass 2"}});
};

class PassKind : public foundation::TextEnum<PassKind, PassKindCases> {
public:
    using TextEnum::TextEnum;
};

} // namespace library
