#include "WidgetTestSupport.h"

#include "app/widgets/MainWindow.h"

#include <QEventLoop>
#include <QSettings>
#include <QTimer>
#include <chrono>

QApplication& TestApplication() {
    static int argc = 1;
    static char name[] = "app_widget_tests";
    static char* argv[] = {name, nullptr};
    static QApplication* application = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        return new QApplication(argc, argv);
    }();
    return *application;
}

void ProcessEventsUntil(const std::function<bool()>& done) {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    // A state that no event announces (a file on disk) is still looked at every few ticks.
    QTimer wake;
    wake.start(50);
    while (!done()) {
        if (std::chrono::steady_clock::now() > limit) {
            ADD_FAILURE() << "the awaited state never came";
            return;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
}

void ProcessEventsFor(std::chrono::milliseconds span) {
    QEventLoop loop;
    QTimer::singleShot(span, &loop, &QEventLoop::quit);
    loop.exec();
}

std::shared_ptr<const TClosedDialog> CloseNextModalDialog() {
    auto closed = std::make_shared<TClosedDialog>();
    QTimer::singleShot(0, [closed] {
        if (QWidget* dialog = QApplication::activeModalWidget()) {
            closed->opened = true;
            closed->title = dialog->windowTitle();
            dialog->close();
        }
    });
    return closed;
}

void ChooseFormatLine(QComboBox* list, int line) {
    const int index = list->findData(line);
    ASSERT_GE(index, 0) << "line " << line;
    list->setCurrentIndex(index);
}

int ChosenFormatLine(const QComboBox* list) {
    const QVariant line = list->currentData();
    return line.isValid() ? line.toInt() : -1;
}

void TWidgetTest::SetUp() {
    // Each test has a settings store of its own: the environment for anything that asks, and
    // QSettings, which reads the environment only once per process.
    qputenv("XDG_CONFIG_HOME", configDir_.Path().string().c_str());
    // The saved queue and the presets go to a data folder of the test's own.
    qputenv("XDG_DATA_HOME", (configDir_.Path() / "data").string().c_str());
    TestApplication();
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                       QString::fromStdString(configDir_.Path().string()));
    RequireMediaLibraries();
    SetMessagePresenter([this](TMessageKind kind, const QString& text) {
        messages_.emplace_back(kind, text);
        return confirmationAnswer_;
    });
}

void TWidgetTest::TearDown() {
    SetMessagePresenter({});
    QCoreApplication::processEvents();
}

// The font library keeps caches for the life of the process; the leak checker of the sanitizer
// build is told so.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}

void AddFilesAndWait(TMainWindow& form, const QStringList& paths) {
    form.AddFiles(paths);
    ProcessEventsUntil([&] { return !form.AddingFiles(); });
}

QString CellText(const QAbstractItemView* list, int row, int column) {
    return list->model()->index(row, column).data(Qt::DisplayRole).toString();
}

QString CellTip(const QAbstractItemView* list, int row, int column) {
    return list->model()->index(row, column).data(Qt::ToolTipRole).toString();
}

Qt::CheckState CellCheck(const QAbstractItemView* list, int row) {
    return list->model()->index(row, 0).data(Qt::CheckStateRole).value<Qt::CheckState>();
}

Qt::ItemFlags CellFlags(const QAbstractItemView* list, int row, int column) {
    return list->model()->flags(list->model()->index(row, column));
}

void SetCellCheck(QAbstractItemView* list, int row, Qt::CheckState state) {
    list->model()->setData(list->model()->index(row, 0), state, Qt::CheckStateRole);
}

int RowCount(const QAbstractItemView* list) {
    return list->model()->rowCount();
}

int ColumnCount(const QAbstractItemView* list) {
    return list->model()->columnCount();
}

QMetaObject::Connection OnCellChanged(QAbstractItemView* list,
                                      std::function<void(int row, int column)> changed) {
    return QObject::connect(
        list->model(), &QAbstractItemModel::dataChanged,
        [changed = std::move(changed)](const QModelIndex& first, const QModelIndex& last) {
            for (int r = first.row(); r <= last.row(); ++r) {
                for (int c = first.column(); c <= last.column(); ++c) changed(r, c);
            }
        });
}
