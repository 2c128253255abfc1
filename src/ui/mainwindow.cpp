#include "ui/mainwindow.h"

#include "model/brevanemodel.h"
#include "ui/contentview.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMenuBar>

namespace {

// The platform's keys for `key`, and `also` where it has not got it.
QList<QKeySequence> bindingsWith(QKeySequence::StandardKey key, const QKeySequence& also)
{
    QList<QKeySequence> keys = QKeySequence::keyBindings(key);
    if (!keys.contains(also))
        keys.append(also);
    return keys;
}

} // namespace

MainWindow::MainWindow(ProcessOwner& owner, const QByteArray& workingFolder, QWidget* parent)
    : QMainWindow(parent)
    , m_owner(owner)
    , m_content(new ContentView(owner, workingFolder))
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(m_content->title());
    connect(m_content, &ContentView::titleChanged, this, &QWidget::setWindowTitle);
    setCentralWidget(m_content);
    buildMenus();
}

MainWindow::~MainWindow() = default;

MainWindow* MainWindow::open(ProcessOwner& owner, const QByteArray& workingFolder)
{
    auto* window = new MainWindow(owner, workingFolder);
    window->show();
    return window;
}

void MainWindow::buildMenus()
{
    QMenu* file = menuBar()->addMenu(tr("&File"));
    // A new window starts where this one works.
    QAction* newWindow = file->addAction(tr("New Window"), this, [this] {
        MainWindow::open(m_owner, m_content->model()->workingFolder());
    });
    newWindow->setShortcut(QKeySequence::New);
    file->addAction(m_content->newSessionAction());
    QAction* openFolder =
        file->addAction(tr("Open Folder…"), m_content, &ContentView::chooseFolder);
    openFolder->setShortcut(QKeySequence::Open);
    file->addAction(m_content->saveTranscriptsAction());
    QAction* closeWindow = file->addAction(tr("Close Window"), this, &QWidget::close);
    closeWindow->setShortcut(QKeySequence::Close);
    file->addSeparator();
    QAction* quit = file->addAction(tr("Quit"), qApp, &QCoreApplication::quit);
    // Platforms without a desktop theme bind no key to Quit; Ctrl+Q is what
    // every desktop uses.
    quit->setShortcut(QKeySequence::keyBindings(QKeySequence::Quit).isEmpty()
                          ? QKeySequence(Qt::CTRL | Qt::Key_Q)
                          : QKeySequence(QKeySequence::Quit));
    quit->setMenuRole(QAction::QuitRole);

    // The standard edit commands act on whatever has the keyboard: the task
    // field or a transcript. Slots are looked up by name so that any widget
    // offering them (QPlainTextEdit, QLineEdit, a transcript view) is served.
    struct EditCommand {
        const char* title;
        QKeySequence::StandardKey key;
        const char* slot;
    };
    const EditCommand commands[] = {
        {QT_TR_NOOP("Undo"), QKeySequence::Undo, "undo"},
        {QT_TR_NOOP("Redo"), QKeySequence::Redo, "redo"},
        {nullptr, QKeySequence::UnknownKey, nullptr},
        {QT_TR_NOOP("Cut"), QKeySequence::Cut, "cut"},
        {QT_TR_NOOP("Copy"), QKeySequence::Copy, "copy"},
        {QT_TR_NOOP("Paste"), QKeySequence::Paste, "paste"},
        {QT_TR_NOOP("Select All"), QKeySequence::SelectAll, "selectAll"},
    };
    QMenu* edit = menuBar()->addMenu(tr("&Edit"));
    for (const EditCommand& command : commands) {
        if (!command.title) {
            edit->addSeparator();
            continue;
        }
        QAction* action = edit->addAction(tr(command.title), this,
                                          [slot = command.slot] { invokeOnFocus(slot); });
        action->setShortcut(command.key);
    }
    edit->addSeparator();
    QAction* find = edit->addAction(tr("Find…"), m_content, &ContentView::showFind);
    find->setShortcut(QKeySequence::Find);
    QAction* findNext = edit->addAction(tr("Find Next"), m_content, &ContentView::findNext);
    findNext->setShortcuts(bindingsWith(QKeySequence::FindNext, QKeySequence(Qt::Key_F3)));
    QAction* findPrevious =
        edit->addAction(tr("Find Previous"), m_content, &ContentView::findPrevious);
    findPrevious->setShortcuts(
        bindingsWith(QKeySequence::FindPrevious, QKeySequence(Qt::SHIFT | Qt::Key_F3)));

    // Zoom sizes the transcripts of this window.
    QMenu* view = menuBar()->addMenu(tr("&View"));
    // Per window: the tools that can report their work step by step do so
    // unless this is ticked.
    QAction* plainOutput = view->addAction(tr("Plain Output"));
    plainOutput->setCheckable(true);
    plainOutput->setChecked(m_content->model()->plainOutput());
    connect(plainOutput, &QAction::toggled, m_content->model(), &BrevaneModel::setPlainOutput);
    view->addSeparator();
    QAction* zoomIn = view->addAction(tr("Zoom In"), m_content, [this] { m_content->zoomBy(1); });
    // Ctrl+= is Ctrl++ without Shift on most keyboards.
    zoomIn->setShortcuts(
        bindingsWith(QKeySequence::ZoomIn, QKeySequence(Qt::CTRL | Qt::Key_Equal)));
    QAction* zoomOut =
        view->addAction(tr("Zoom Out"), m_content, [this] { m_content->zoomBy(-1); });
    zoomOut->setShortcut(QKeySequence::ZoomOut);
    QAction* actualSize = view->addAction(tr("Actual Size"), m_content, &ContentView::resetZoom);
    actualSize->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_0));
}

void MainWindow::invokeOnFocus(const char* slot)
{
    QWidget* focus = QApplication::focusWidget();
    if (!focus)
        return;
    const QByteArray signature = QByteArray(slot) + "()";
    if (focus->metaObject()->indexOfMethod(signature.constData()) >= 0)
        QMetaObject::invokeMethod(focus, slot);
}
