#pragma once

#include "git/gitparsers.h"

#include <QList>
#include <QString>
#include <QWidget>

class ChangesModel;
class QAbstractButton;
class QLabel;
class QPushButton;
class QTreeView;
class TranscriptDocument;
class TranscriptView;

// The changes an agent made in its worktree: a summary, the files of this
// turn or of the whole session, the diff of the current file, and the
// actions on them. It runs nothing itself: it asks its owner for each diff
// with a ticket and shows only the answer to the latest ticket, and every
// action is a signal.
class ChangesView : public QWidget {
    Q_OBJECT
public:
    explicit ChangesView(QWidget* parent = nullptr);
    ~ChangesView() override;

    // Both lists at once; the scope chosen says which one is shown.
    void setChanges(const QList<GitFileChange>& wholeSession, const QList<GitFileChange>& thisTurn);
    // The list shown now.
    const QList<GitFileChange>& currentChanges() const;
    bool showsThisTurn() const { return m_thisTurn; }
    void setShowsThisTurn(bool thisTurn);
    // The selected files of the list shown, in its order.
    QList<GitFileChange> selectedChanges() const;

    // The answer for `ticket`: the current file's diff, or why there is
    // none. Answers for any other ticket are dropped.
    void showDiff(quint64 ticket, const QByteArray& unifiedDiff);
    void showDiffError(quint64 ticket, const QString& message);

    // A message under the summary, such as an error or work under way;
    // empty hides it.
    void setStatus(const QString& text);

    void setRefreshEnabled(bool enabled, const QString& toolTip = {});
    void setOpenWorktreeEnabled(bool enabled, const QString& toolTip = {});
    void setCreateBranchEnabled(bool enabled, const QString& toolTip = {});
    void setApplyEnabled(bool enabled, const QString& toolTip = {});
    void setDiscardEnabled(bool enabled, const QString& toolTip = {});

    // What tests and benchmarks look at.
    QTreeView* fileList() const { return m_list; }
    TranscriptView* diffView() const { return m_diff; }
    const TranscriptDocument& diffDocument() const { return *m_document; }
    QString summaryText() const;
    QString statusText() const;
    quint64 currentTicket() const { return m_ticket; }

    // The summary for `changes`: "4 files, +120 −8", or "No changes".
    static QString summary(const QList<GitFileChange>& changes);

Q_SIGNALS:
    void scopeChanged(bool thisTurn);
    // The file that became current; answer with showDiff(ticket, …). Not
    // sent for a binary file, which has no text to show.
    void diffRequested(quint64 ticket, const GitFileChange& change, bool thisTurn);
    void refreshRequested();
    void openWorktreeRequested();
    void createBranchRequested();
    // The selected files, or all of the list shown when none is selected.
    void applyRequested(const QList<GitFileChange>& files);
    void discardRequested();

private:
    void showList();
    void currentFileChanged();
    void showNotice(const QString& text);

    QList<GitFileChange> m_wholeSession;
    QList<GitFileChange> m_thisTurnChanges;
    bool m_thisTurn = false;
    quint64 m_ticket = 0;

    QLabel* m_summary = nullptr;
    QLabel* m_status = nullptr;
    QAbstractButton* m_turnButton = nullptr;
    QAbstractButton* m_sessionButton = nullptr;
    ChangesModel* m_model = nullptr;
    QTreeView* m_list = nullptr;
    TranscriptDocument* m_document = nullptr;
    TranscriptView* m_diff = nullptr;
    QPushButton* m_refresh = nullptr;
    QPushButton* m_openWorktree = nullptr;
    QPushButton* m_createBranch = nullptr;
    QPushButton* m_apply = nullptr;
    QPushButton* m_discard = nullptr;
};
