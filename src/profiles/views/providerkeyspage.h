#pragma once
// The provider keys page: one card per provider with its endpoint, its API
// key (hidden unless the writer asks to see it), z.ai's key type and the
// connection test with its result.

#include "profiles/settingstypes.h"
#include "profiles/views/settingswidgets.h"

#include <QWidget>
#include <memory>

class QLabel;
class QLineEdit;
class QPushButton;

namespace profiles {

class SettingsModel;

// A card on the page fill with a rule border.
class ProviderKeyBlock : public RoundedPanel {
    Q_OBJECT
public:
    ProviderKeyBlock(std::shared_ptr<SettingsModel> model, ModelProvider provider, QWidget *parent = nullptr);

    ModelProvider provider() const { return m_provider; }
    bool revealed() const { return m_revealed; }
    QLabel *titleLabel() const { return m_title; }
    QLineEdit *endpointField() const { return m_endpoint; }
    QLineEdit *keyField() const { return m_key; }
    QPushButton *revealButton() const { return m_reveal; }
    // Shown while the key field is empty.
    QLabel *emptyKeyNote() const { return m_emptyKeyNote; }
    // z.ai only.
    KeyTypeSegment *keyTypeSegment() const { return m_segment; }
    QLabel *keyTypeNote() const { return m_keyTypeNote; }
    // Nous only.
    QLabel *portalNote() const { return m_portalNote; }
    QPushButton *testButton() const { return m_test; }
    // "testing…" while a test runs, else null.
    QLabel *testingLabel() const { return m_testing; }
    // The finished test's line, else null.
    TestConnectionResult *result() const { return m_result; }

private:
    void refreshKey();
    void refreshTest();
    void setRevealed(bool revealed);

    std::shared_ptr<SettingsModel> m_model;
    ModelProvider m_provider;
    bool m_revealed = false;
    QLabel *m_title;
    QLineEdit *m_endpoint;
    QLineEdit *m_key;
    QPushButton *m_reveal;
    QLabel *m_emptyKeyNote;
    KeyTypeSegment *m_segment = nullptr;
    QLabel *m_keyTypeNote = nullptr;
    QLabel *m_portalNote = nullptr;
    QPushButton *m_test;
    QWidget *m_testState;
    QLabel *m_testing = nullptr;
    TestConnectionResult *m_result = nullptr;
};

class ProviderKeysPage : public QWidget {
    Q_OBJECT
public:
    explicit ProviderKeysPage(std::shared_ptr<SettingsModel> model, QWidget *parent = nullptr);

    // In provider order.
    const QList<ProviderKeyBlock *> &blocks() const { return m_blocks; }
    ProviderKeyBlock *block(ModelProvider provider) const;

private:
    QList<ProviderKeyBlock *> m_blocks;
};

} // namespace profiles
