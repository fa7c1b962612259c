#include "framework/application.h"

#include <QApplication>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMessageBox>
#include <QString>
#include <QWidget>
#include <QtGlobal>

#include "framework/exceptions.h"
#include "framework/form.h"
#include "platform/kernel.h"

namespace fw {

TApplication* Application = nullptr;

TApplication::TApplication() : TComponent(nullptr) {
    if (Application)
        throw EInvalidOperation("There is an application object already");
    title_ =
        QFileInfo(QString::fromStdString(win::ExecutablePath())).completeBaseName().toStdString();
    handle_ = AllocateHWnd([this](TMessage& m) { WndProc(m); });
    if (handle_)
        win::SetWindowTextA(handle_, title_.c_str());
    if (auto* gui = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        // The program ends when its main form closes, not with its last window.
        gui->setQuitOnLastWindowClosed(false);
        stateWatch_ = new QObject;
        QObject::connect(gui, &QGuiApplication::applicationStateChanged, stateWatch_,
                         [this](Qt::ApplicationState state) {
                             if (state != Qt::ApplicationActive && state != Qt::ApplicationInactive)
                                 return;
                             CallGuarded(this, [this, state] {
                                 win::SendMessageA(handle_, win::WM_ACTIVATEAPP,
                                                   state == Qt::ApplicationActive ? 1 : 0, 0);
                             });
                         });
    }
    Application = this;
}

TApplication::~TApplication() {
    Destroying();
    DestroyComponents();
    delete stateWatch_;
    DeallocateHWnd(handle_);
    if (Application == this)
        Application = nullptr;
}

TIcon* TApplication::Icon() {
    if (!icon_) {
        icon_ = std::make_unique<TIcon>();
        // The program's window icon, when it set one.
        const QIcon window = QGuiApplication::windowIcon();
        if (!window.isNull())
            icon_->SetImage(window);
        else
            icon_->SetHandle(win::LoadIconA(nullptr, win::IDI_APPLICATION));
    }
    return icon_.get();
}

void TApplication::SetTitle(const std::string& title) {
    title_ = title;
    if (handle_)
        win::SetWindowTextA(handle_, title_.c_str());
}

void TApplication::FormCreated(TForm* form) {
    if (!mainForm_)
        mainForm_ = form;
}

void TApplication::Notification(TComponent* AComponent, TOperation Operation) {
    TComponent::Notification(AComponent, Operation);
    if (Operation == opRemove && AComponent == mainForm_)
        mainForm_ = nullptr;
}

void TApplication::Run() {
    if (terminated_)
        return;
    if (mainForm_ && ShowMainForm) {
        CallGuarded(this, [this] { mainForm_->Show(); });
    }
    if (terminated_)
        return;
    running_ = true;
    QCoreApplication::exec();
    running_ = false;
    // The loop also ends when something else quits it (a posted WM_QUIT).
    terminated_ = true;
}

void TApplication::Terminate() {
    terminated_ = true;
    if (running_)
        QCoreApplication::exit(0);
}

void TApplication::ProcessMessages() {
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void TApplication::Minimize() {
    win::SendMessageA(handle_, win::WM_SYSCOMMAND, win::SC_MINIMIZE, 0);
}

void TApplication::Restore() {
    win::SendMessageA(handle_, win::WM_SYSCOMMAND, win::SC_RESTORE, 0);
}

void TApplication::MinimizeMainForm(bool minimize) {
    if (mainForm_ && mainForm_->Visible()) {
        if (minimize)
            mainForm_->Widget()->showMinimized();
        else
            mainForm_->Widget()->showNormal();
    }
    win::SendMessageA(handle_, win::WM_SIZE, minimize ? SIZE_MINIMIZED : SIZE_RESTORED, 0);
    if (minimize && OnMinimize)
        OnMinimize(this);
    if (!minimize && OnRestore)
        OnRestore(this);
}

void TApplication::WndProc(TMessage& Message) {
    switch (Message.Msg) {
        case win::WM_SYSCOMMAND:
            switch (Message.WParam & 0xFFF0) {
                case win::SC_MINIMIZE:
                    MinimizeMainForm(true);
                    break;
                case win::SC_RESTORE:
                    MinimizeMainForm(false);
                    break;
                case win::SC_CLOSE:
                    if (mainForm_)
                        mainForm_->Close();
                    break;
                default:
                    break;
            }
            Message.Result = 0;
            return;
        case win::WM_CLOSE:
            if (mainForm_)
                mainForm_->Close();
            Message.Result = 0;
            return;
        case win::WM_QUERYENDSESSION:
            Message.Result = 1;
            return;
        case win::WM_ACTIVATEAPP:
            // Told again through the queue, after the change is complete.
            win::PostMessageA(handle_, Message.WParam ? CM_ACTIVATE : CM_DEACTIVATE, 0, 0);
            Message.Result = 0;
            return;
        default:
            Message.Result =
                win::DefWindowProcA(handle_, Message.Msg, Message.WParam, Message.LParam);
            return;
    }
}

void TApplication::HandleException(TObject* Sender) {
    std::exception_ptr current = std::current_exception();
    if (!current)
        return;
    try {
        std::rethrow_exception(current);
    } catch (const EAbort&) {
        // The silent exception: it only unwinds.
    } catch (const std::exception& e) {
        if (OnException) {
            try {
                OnException(Sender, e);
            } catch (const std::exception& inner) {
                ShowException(inner);
            }
        } else {
            ShowException(e);
        }
    } catch (...) {
        ShowErrorBox("An unknown error occurred");
    }
}

void TApplication::ShowException(const std::exception& E) {
    ShowErrorBox(E.what());
}

void TApplication::ShowErrorBox(const std::string& message) {
    if (errorBox_) {
        errorBox_(title_, message);
        return;
    }
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) {
        qWarning("%s: %s", title_.c_str(), message.c_str());
        return;
    }
    QMessageBox box(QMessageBox::Critical, QString::fromStdString(title_),
                    QString::fromStdString(message), QMessageBox::Ok);
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
}

void HandleCaughtException(TObject* Sender) noexcept {
    try {
        if (Application) {
            Application->HandleException(Sender);
            return;
        }
        try {
            throw;
        } catch (const EAbort&) {
        } catch (const std::exception& e) {
            qWarning("Unhandled error: %s", e.what());
        } catch (...) {
            qWarning("Unhandled error of unknown kind");
        }
    } catch (...) {
        qWarning("The error box failed");
    }
}

}  // namespace fw
