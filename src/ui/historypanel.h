#pragma once

#include "store/historyrecords.h"

#include <QDateTime>
#include <QHash>
#include <QSet>
#include <QStringList>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <optional>

class HistoryStore;
class QCheckBox;
class QLineEdit;
class QPushButton;
class QTreeWidget;

// The sessions the history keeps, newest first: each one's title, its
// agents' last states as dots, its folder and when it was last worked on.
// A filter searches titles and prompts, and transcripts when asked to.
class HistoryPanel : public QWidget {
    Q_OBJECT
public:
    explicit HistoryPanel(HistoryStore& store, QWidget* parent = nullptr);

    // Asks the store again, soon: several calls in a row ask once.
    void refresh();

    QLineEdit* filterField() const { return m_filter; }
    QCheckBox* transcriptsBox() const { return m_transcripts; }
    QTreeWidget* list() const { return m_list; }
    QPushButton* openButton() const { return m_open; }
    QPushButton* deleteButton() const { return m_delete; }
    QPushButton* discardButton() const { return m_discard; }
    // The sessions listed, in order, as the store last answered.
    const QList<SessionSummary>& sessions() const { return m_sessions; }
    // The ids of the sessions selected, in the list's order.
    QStringList selectedIds() const;

    // Deletes the sessions selected, none of them running, once the user
    // has confirmed it; `confirm` false: without asking (tests).
    void deleteSelected(bool confirm = true);
    // Tells whether a session runs here now, which the list may not know
    // yet: such a session is neither deleted nor opened.
    // Removes the worktrees of the sessions `ids` before their rows go, and
    // then calls `done` with the sessions whose worktrees are all gone.
    using WorktreeDiscarder = std::function<void(
        const QStringList& ids,
        std::function<void(const QStringList& gone, const QStringList& errors)> done)>;
    void setWorktreeDiscarder(WorktreeDiscarder discarder) { m_discarder = std::move(discarder); }
    void setRunningHere(std::function<bool(const QString& id)> runningHere)
    {
        m_runningHere = std::move(runningHere);
    }
    // Works out the disk space each session's worktrees take, off the GUI
    // thread, and calls `counted` on the GUI thread with each one's.
    using SessionFolders = QList<std::pair<QString, QList<QByteArray>>>;
    using SpaceCounter =
        std::function<void(const SessionFolders& sessions,
                           std::function<void(const QString& id, qint64 bytes)> counted)>;
    void setSpaceCounter(SpaceCounter counter) { m_counter = std::move(counter); }
    // Asks to discard the worktrees of the sessions selected, once the user
    // has confirmed it; `confirm` false: without asking (tests).
    void discardSelected(bool confirm = true);
    // The discard discardRequested() asked for these sessions is over,
    // however it went: they may be discarded or deleted again.
    void discardEnded(const QStringList& ids);

Q_SIGNALS:
    // The user asked to open this session.
    void openRequested(const QString& id);
    // The sessions are about to be deleted from the history.
    void deleting(const QStringList& ids);
    // The user asked to remove these sessions' worktrees, keeping the
    // sessions. Until discardEnded() says it is over, neither Discard nor
    // Delete is offered for them: a second removal would find the first's
    // worktrees half gone.
    void discardRequested(const QStringList& ids);
    // The list shows the store's latest answer.
    void listed();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void removeSessions(const QStringList& ids);
    void ask();
    void showSessions(const QList<SessionSummary>& sessions);
    void updateButtons();
    // Whether to go ahead with `action` on the sessions `ids`: none of them
    // runs here, and the user said so (when asked to `confirm`).
    bool mayGoAhead(const QStringList& ids, bool confirm, const QString& title,
                    const QString& question, const QString& consequence, const QString& action);
    void countSpace(const QList<SessionSummary>& sessions);
    QString spaceText(const SessionSummary& session) const;

    HistoryStore& m_store;
    QLineEdit* m_filter;
    QCheckBox* m_transcripts;
    QTreeWidget* m_list;
    QPushButton* m_open;
    QPushButton* m_delete;
    QPushButton* m_discard;
    QTimer m_debounce;
    QList<SessionSummary> m_sessions;
    std::function<bool(const QString&)> m_runningHere;
    WorktreeDiscarder m_discarder;
    SpaceCounter m_counter;
    // What each session's worktrees take, as last counted, and when the
    // session had last changed then; counted again once it changes.
    struct Space {
        QDateTime updatedAt;
        QList<QByteArray> folders;
        std::optional<qint64> bytes;
    };
    QHash<QString, Space> m_space;
    bool m_deleting = false; // worktrees of sessions being deleted are being removed
    QSet<QString> m_discarding; // sessions whose worktrees are being discarded
    // Answers to older questions are dropped.
    quint64 m_asked = 0;
};
