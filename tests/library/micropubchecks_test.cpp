#include "library/micropubchecks.h"
#include "testutil.h"

#include <gtest/gtest.h>

using namespace library;

TEST(MicropubIsTrustworthy, Table)
{
    struct Row {
        QString text;
        bool trusted;
    };
    const Row rows[] = {
        {"https://example.blog/2024/01/walk", true},
        {"HTTPS://example.blog/post", true},
        {"https://example.blog", true},
        {"https://example.blog:8443/p?q=1#frag", true},
        {QString::fromUtf8("https://example.blog/\U0001F600"), true}, // a surrogate pair is one character
        {"", false},
        {"http://example.blog/post", false},
        {"ftp://example.blog/post", false},
        {"https:///post", false},
        {"https://", false},
        {"https:relative/path", false},
        {"example.blog/post", false},
        {"javascript:alert(1)", false},
        {"https://example.blog/post\n", false},
        {"https://example.blog/\npost", false},
        {"https://example.blog/\rpost", false},
        {"https://example.blog/\tpost", false},
        {"https://example.blog/post\x7f", false},
        {QString::fromUtf8("https://example.blog/post\u2028"), false},
        {QString::fromUtf8("https://example.blog/po\u200Bst"), false}, // a format character
        {QString("https://example.blog/") + QChar(0xD800), false},     // an unpaired surrogate
        {"https://exa mple.blog/post", false},
        {"https://example.blog/a b", false},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.text.toStdString());
        EXPECT_EQ(Micropub::isTrustworthy(row.text), row.trusted);
    }
}

TEST(MicropubMimeType, Table)
{
    struct Row {
        QString name;
        std::optional<QString> type;
    };
    const Row rows[] = {
        {"photo.png", "image/png"},
        {"PHOTO.PNG", "image/png"},
        {"a.jpg", "image/jpeg"},
        {"a.JPEG", "image/jpeg"},
        {"anim.gif", "image/gif"},
        {"pic.webp", "image/webp"},
        {"logo.svg", "image/svg+xml"},
        {"/home/w/Pictures/trip.2024.JpG", "image/jpeg"},
        {"archive.tar.png", "image/png"},
        {"notes.txt", std::nullopt},
        {"photo.heic", std::nullopt},
        {"photo.tiff", std::nullopt},
        {"png", std::nullopt},
        {"photo.", std::nullopt},
        {".png", std::nullopt},
        {"/dir.png/file", std::nullopt},
        {"", std::nullopt},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name.toStdString());
        EXPECT_EQ(Micropub::mimeType(row.name), row.type);
    }
}

TEST(MicropubMimeType, NeverReadsTheFile)
{
    EXPECT_EQ(Micropub::mimeType("/no/such/folder/photo.png"), QString("image/png"));
}
