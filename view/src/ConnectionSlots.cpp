#include "ConnectionSlots.h"

namespace Varkon::QUILApi::View {

void ConnectionSlots::Prune() {
    connections.remove_if([](const std::weak_ptr<Connection>& c) { return c.expired(); });
}

std::size_t ConnectionSlots::Open() {
    Prune();
    return connections.size();
}

bool ConnectionSlots::MakeRoom() {
    if (Open() < capacity) {
        return true;
    }
    auto victim = connections.end();
    for (auto c = connections.begin(); c != connections.end(); ++c) {
        const auto connection = c->lock();
        if (connection->Idle()) {
            victim = c;
            break;
        }
        if (victim == connections.end() && !connection->Watching()) {
            victim = c;
        }
    }
    if (victim == connections.end()) {
        ++refused;
        return false;
    }
    victim->lock()->Close();
    connections.erase(victim);
    ++evicted;
    return true;
}

void ConnectionSlots::Add(const std::shared_ptr<Connection>& connection) {
    connections.push_back(connection);
}

}  // namespace Varkon::QUILApi::View
