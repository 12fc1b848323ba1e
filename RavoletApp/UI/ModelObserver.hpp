#pragma once

#include <QObject>

#include <utility>
#include <vector>

#include "Support/Observable.hpp"

namespace ravolet {

// Keeps observer connections for as long as a widget (or any object) lives:
// the model's observables know nothing of Qt, so the tie to a widget's
// lifetime is made here. Destroying the owner disconnects everything it
// watched, so no observer ever reaches a deleted widget.
class ModelConnections : public QObject {
public:
    explicit ModelConnections(QObject* owner) : QObject(owner) { setObjectName(objectNameForHolder()); }

    void keep(ObserverConnection connection) { connections_.push_back(std::move(connection)); }

    static QString objectNameForHolder() { return QStringLiteral("ravolet-model-connections"); }

private:
    std::vector<ObserverConnection> connections_;
};

// The owner's holder of connections, made on first use.
inline ModelConnections& modelConnections(QObject* owner) {
    for (QObject* child : owner->children()) {
        if (child->objectName() == ModelConnections::objectNameForHolder())
            if (auto* holder = dynamic_cast<ModelConnections*>(child)) return *holder;
    }
    return *new ModelConnections(owner);
}

// Calls fn with every new value of the observable while owner lives.
template <class T, class Fn>
void observeWhileAlive(QObject* owner, const Observable<T>& observable, Fn fn) {
    modelConnections(owner).keep(observable.observe(std::move(fn)));
}

} // namespace ravolet
