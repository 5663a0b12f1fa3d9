// The accepted connections of a TCP event port: one receive buffer each, found by the transport's
// handle of the connection, freed when it ends; the open connections and the bytes held for their
// partial frames are bounded, and the connection idle longest makes room.
#include <string.h>

#include "DmlpEngine.h"

namespace {

DmlpEventConnection** BucketOf(DmlpConnectionTable* table, uint32_t handle)
{
    return &table->byHandle[handle % DMLP_CONNECTION_BUCKETS];
}

DmlpEventConnection* Find(DmlpConnectionTable* table, uint32_t handle)
{
    for (DmlpEventConnection* connection = *BucketOf(table, handle); connection != nullptr;
         connection = connection->bucketNext) {
        if (connection->handle == handle)
            return connection;
    }
    return nullptr;
}

void Unlink(DmlpConnectionTable* table, DmlpEventConnection* connection)
{
    (connection->newer != nullptr ? connection->newer->older : table->newest) = connection->older;
    (connection->older != nullptr ? connection->older->newer : table->oldest) = connection->newer;
    connection->newer = connection->older = nullptr;
}

// The connection becomes the most recently active.
void Touch(DmlpConnectionTable* table, DmlpEventConnection* connection)
{
    if (table->newest == connection)
        return;
    if (connection->newer != nullptr || connection->older != nullptr || table->oldest == connection)
        Unlink(table, connection);
    connection->older = table->newest;
    if (table->newest != nullptr)
        table->newest->newer = connection;
    table->newest = connection;
    if (table->oldest == nullptr)
        table->oldest = connection;
}

// Forgets the connection and frees its bytes; close: the transport closes it too.
void Drop(DmlpConnectionTable* table, DmlpEventConnection* connection, bool close)
{
    for (DmlpEventConnection** link = BucketOf(table, connection->handle); *link != nullptr;
         link = &(*link)->bucketNext) {
        if (*link == connection) {
            *link = connection->bucketNext;
            break;
        }
    }
    Unlink(table, connection);
    table->heldBytes -= connection->receive.buffered;
    --table->count;
    if (close)
        VxTransCloseEndpoint(connection->handle);
    DmlpEmptyReceiveBuffer(&connection->receive);
    DmlpFree(connection);
}

DmlpConnectionTable* TableOf(DmlpBindingRecord* port)
{
    if (port->connections == nullptr) {
        port->connections = (DmlpConnectionTable*)DmlpAlloc(sizeof(DmlpConnectionTable));
        if (port->connections != nullptr)
            memset(port->connections, 0, sizeof *port->connections);
    }
    return port->connections;
}

void Accepted(DmlpBindingRecord* port, uint32_t handle)
{
    DmlpConnectionTable* table = TableOf(port);
    DmlpEventConnection* connection =
        table != nullptr ? (DmlpEventConnection*)DmlpAlloc(sizeof(DmlpEventConnection)) : nullptr;
    if (connection == nullptr) {
        VxTransCloseEndpoint(handle);
        return;
    }
    if (table->count >= DMLP_EVENT_CONNECTIONS_MAX)
        Drop(table, table->oldest, true);
    memset(connection, 0, sizeof *connection);
    connection->handle = handle;
    connection->bucketNext = *BucketOf(table, handle);
    *BucketOf(table, handle) = connection;
    ++table->count;
    Touch(table, connection);
}

// The connection idle longest of those holding bytes, but not current; null when none.
DmlpEventConnection* OldestHolder(DmlpConnectionTable* table, const DmlpEventConnection* current)
{
    DmlpEventConnection* connection = table->oldest;
    while (connection != nullptr && (connection == current || connection->receive.buffered == 0))
        connection = connection->newer;
    return connection;
}

// Cuts the connection's frames; then, while the partial frames of all connections hold more
// than the bound, the holder idle longest goes.
void Received(DmlpBindingRecord* port, DmlpConnectionTable* table, DmlpEventConnection* connection,
              const VxTransAddressPair* sender, DmlpReceiveBlock* block)
{
    Touch(table, connection);
    const uint32_t before = connection->receive.buffered;
    if (!DmlpTakeBlock(port, &connection->receive, sender, block))
        return;
    table->heldBytes = table->heldBytes - before + connection->receive.buffered;
    while (table->heldBytes > DMLP_EVENT_HELD_BYTES_MAX) {
        DmlpEventConnection* idle = OldestHolder(table, connection);
        if (idle == nullptr)
            return;
        Drop(table, idle, true);
    }
}

} // namespace

bool DmlpHearsConnections(const DmlpBindingRecord* binding)
{
    const uint16_t kind = binding->peer.kind;
    return (binding->flags & DMLP_BINDING_EVENT_PORT) != 0 && (kind == DMLP_ADDRESS_TCP || kind == DMLP_ADDRESS_SPX);
}

void DmlpConnectionReceived(DmlpBindingRecord* port, const VxTransAddressPair* sender, DmlpStatus status,
                            DmlpReceiveBlock* block)
{
    DmlpConnectionTable* table = port->connections;
    DmlpEventConnection* connection =
        table != nullptr && sender->connection != 0 ? Find(table, sender->connection) : nullptr;
    if (status == DMLP_SUCCESS && block == nullptr && sender->connection != 0 && connection == nullptr) {
        Accepted(port, sender->connection);
        return;
    }
    // Bytes of a connection that was never announced, or already closed, are not framed.
    if (connection == nullptr) {
        DmlpFree(block);
        return;
    }
    if (status != DMLP_SUCCESS) {
        DmlpFree(block);
        Drop(table, connection, false);
        return;
    }
    if (block == nullptr)
        return;
    Received(port, table, connection, sender, block);
}

void DmlpFreeConnections(DmlpBindingRecord* port)
{
    DmlpConnectionTable* table = port->connections;
    if (table == nullptr)
        return;
    while (table->oldest != nullptr)
        Drop(table, table->oldest, false);
    DmlpFree(table);
    port->connections = nullptr;
}
