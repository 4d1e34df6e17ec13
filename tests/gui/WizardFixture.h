#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <optional>

#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStackedWidget>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include "model/Global.h"
#include "project/CurrentProject.h"
#include "model/UserMessage.h"
#include "project/VellisyncProject.h"
#include "support/QtPrinters.h"
#include "ui/UiPrompts.h"
#include "ui/VellisyncMain.h"

// One question box as the window asked it.
struct AskedQuestion {
    QString title;
    QString text;
    QMessageBox::StandardButtons buttons;
    QMessageBox::StandardButton defaultButton;
};

// Runs the real wizard window with its projects folder in a temporary folder
// and every dialog answered by the test: questions from a queue (an empty
// queue answers with the default button, as closing the box would), the
// caption query and the save dialog from set answers.
class WizardTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_home.isValid());
        // Never the user's own projects folder, whatever the globals compute.
        qputenv("XDG_DATA_HOME", m_home.filePath(QStringLiteral("data")).toUtf8());
        InitializeGlobals();
        ProjectsFolder = m_home.filePath(QStringLiteral("projects"));
        CurrentProject = std::make_unique<TVellisyncProject>();
        installPrompts();
        installStoreMessageBox();
        window = std::make_unique<TVellisyncMain>();
    }

    void TearDown() override {
        if (window && window->runActive()) {
            EXPECT_TRUE(QTest::qWaitFor([&] { return !window->runActive(); }, 120'000));
        }
        window.reset();
        resetUiPrompts();
        setUserMessageHandler({});
        CurrentProject = std::make_unique<TVellisyncProject>();
    }

    void installPrompts() {
        UiPrompts& prompts = uiPrompts();
        prompts.question = [this](QWidget*, const QString& title, const QString& text,
                                  QMessageBox::StandardButtons buttons, QMessageBox::StandardButton defaultButton) {
            questions.push_back({title, text, buttons, defaultButton});
            if (answers.empty())
                return defaultButton;
            const QMessageBox::StandardButton answer = answers.front();
            answers.pop_front();
            return answer;
        };
        prompts.critical = [this](QWidget*, const QString& title, const QString& text) {
            errors.push_back(title + QStringLiteral(" | ") + text);
        };
        prompts.information = [this](QWidget*, const QString&, const QString& text) { informations.push_back(text); };
        prompts.textQuery = [this](QWidget*, const QString& title, const QString& label, const QString& text) {
            captionQueries.push_back(title + QStringLiteral(" | ") + label + QStringLiteral(" | ") + text);
            return captionAnswer;
        };
        prompts.saveFileName = [this](QWidget*, const QString&, const QString&) { return saveFileAnswer; };
        prompts.folder = [this](QWidget*, const QString&, const QString&) { return folderAnswer; };
        prompts.beep = [this] { ++beeps; };
        prompts.openUrl = [this](const QUrl& url) {
            openedUrls.push_back(url);
            return true;
        };
    }

    void showWindow() {
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        window->activateWindow();
        (void)QTest::qWaitForWindowActive(window.get());
    }

    template <typename T> T* child(const char* name) {
        T* found = window->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }

    void click(const char* name) {
        QWidget* widget = child<QWidget>(name);
        if (!widget)
            return;
        // Check boxes and radio buttons take clicks on their mark and text only.
        const bool marked = qobject_cast<QCheckBox*>(widget) || qobject_cast<QRadioButton*>(widget);
        const QPoint where = marked ? QPoint(6, widget->height() / 2) : widget->rect().center();
        QTest::mouseClick(widget, Qt::LeftButton, Qt::NoModifier, where);
    }
    void next() { click("bNext"); }
    void back() { click("bBack"); }
    int page() { return child<QStackedWidget>("PageControl1")->currentIndex(); }

    // Replaces the text of an edit by typing, as a user would.
    void type(const char* name, const QString& text) {
        QLineEdit* edit = child<QLineEdit>(name);
        if (!edit)
            return;
        edit->setFocus();
        QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(edit, Qt::Key_Delete);
        QTest::keyClicks(edit, text);
    }

    // Page 0 to the review page with a new project that uploads local to the
    // root of a server, in passive mode; exactCopy ticks "Exact Copy" too.
    void describeUpload(const QString& host, int port, const QString& user, const QString& password,
                        const QString& local, bool exactCopy = false) {
        showWindow();
        next();
        type("eHost", host);
        child<QSpinBox>("udPort")->setValue(port);
        click("cbAnonim");
        type("eUserName", user);
        type("ePassword", password);
        click("cbPassive");
        next();
        next();
        type("eRemote", QStringLiteral("/"));
        type("eLocal", local);
        click("rgModeItem0");
        if (exactCopy) {
            child<QCheckBox>("cbSubfolders")->setChecked(true);
            child<QCheckBox>("cbExact")->setChecked(true);
        }
        next();
        next();
        ASSERT_EQ(page(), 5);
    }

    // Saves a project file with the given caption and returns its path.
    QString storeProject(const QString& caption, const std::function<void(TVellisyncProject&)>& edit = {}) {
        TVellisyncProject project;
        project.SetDefaults();
        project.SetCaption(caption);
        if (edit)
            edit(project);
        const QString path =
            AddTrailingBackslash(ProjectsFolder) + UniqueFileName(ProjectsFolder, QStringLiteral("%s.VSPJ"));
        EXPECT_TRUE(project.SaveToFile(path));
        return path;
    }

    QStringList listCaptions() {
        QStringList captions;
        auto* list = child<QListWidget>("lvProjects");
        for (int row = 0; list && row < list->count(); ++row)
            captions << list->item(row)->text();
        return captions;
    }

    void selectProject(const QString& caption) {
        auto* list = child<QListWidget>("lvProjects");
        const QList<QListWidgetItem*> found = list->findItems(caption, Qt::MatchExactly);
        ASSERT_EQ(found.size(), 1) << qPrintable(caption);
        const QRect area = list->visualItemRect(found.constFirst());
        QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, area.center());
        ASSERT_TRUE(found.constFirst()->isSelected());
    }

    // From page 0 with a new project to the given page, passing the checks on the way.
    void walkNewProjectTo(int target, quint16 port = 21) {
        for (int current = page(); current < target; current = page()) {
            if (current == TVellisyncMain::ServerPage) {
                type("eHost", QStringLiteral("127.0.0.1"));
                child<QSpinBox>("udPort")->setValue(port);
            }
            if (current == TVellisyncMain::FoldersPage)
                type("eLocal", m_home.filePath(QStringLiteral("local")));
            next();
            ASSERT_EQ(page(), current + 1) << "stuck on page " << current;
        }
    }

    // A loopback port within the wizard's port range on which nothing listens,
    // so a run fails at once with a refused connection.
    static quint16 closedLoopbackPort() {
        for (quint16 port = 23000 + quint16(QRandomGenerator::global()->bounded(9000));; ++port) {
            QTcpServer probe;
            if (probe.listen(QHostAddress::LocalHost, port))
                return port;
        }
    }

    QTemporaryDir m_home;
    std::unique_ptr<TVellisyncMain> window;
    std::deque<QMessageBox::StandardButton> answers;
    std::vector<AskedQuestion> questions;
    std::vector<QString> errors;
    std::vector<QString> informations;
    std::vector<QString> captionQueries;
    std::vector<QUrl> openedUrls;
    std::optional<QString> captionAnswer;
    QString saveFileAnswer;
    QString folderAnswer;
    int beeps = 0;
};
