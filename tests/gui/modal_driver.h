#pragma once

#include <QApplication>
#include <QTimer>

#include <functional>
#include <memory>

namespace tolvane::test {

// Acts on the next modal dialog of type T once its exec() is running, from inside that loop, so a
// test can press a button that opens a dialog and still script the dialog. Stops looking when it
// has acted or when it goes out of scope.
template <typename T> class WhenModal {
public:
    explicit WhenModal(std::function<void(T&)> action) : m_timer(std::make_unique<QTimer>())
    {
        m_timer->setInterval(5);
        QObject::connect(m_timer.get(), &QTimer::timeout, [this, action = std::move(action)] {
            auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            m_timer->stop();
            m_acted = true;
            action(*dialog);
        });
        m_timer->start();
    }
    bool acted() const { return m_acted; }

private:
    std::unique_ptr<QTimer> m_timer;
    bool m_acted = false;
};

} // namespace tolvane::test
