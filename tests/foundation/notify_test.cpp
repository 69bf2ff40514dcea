#include "foundation/notify.h"

#include <gtest/gtest.h>

#include <QString>

#include <optional>

namespace {

struct Owner {
    std::optional<QString> name;
    int changes = 0;
    void nameChanged() { ++changes; }
};

} // namespace

TEST(StoreAndNotify, NotifiesOnlyWhenTheValueChanges)
{
    Owner owner;
    EXPECT_TRUE(foundation::storeAndNotify(owner, owner.name, QString("a"), &Owner::nameChanged));
    EXPECT_FALSE(foundation::storeAndNotify(owner, owner.name, QString("a"), &Owner::nameChanged));
    EXPECT_TRUE(foundation::storeAndNotify(owner, owner.name, std::nullopt, &Owner::nameChanged));
    EXPECT_EQ(owner.changes, 2);
    EXPECT_EQ(owner.name, std::nullopt);
}
