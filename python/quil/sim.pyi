"""Type stubs of quil.sim: the virtual sensor in this process."""

from typing import Any, Optional

class VirtualSensor:
    """A complete, stateful stand-in for the sensor in this process: serves the message
    protocol on TCP port 80 of a loopback address (needs root or cap_net_bind_service), keeps
    settings, setups and roles, and sends the UDP stream where its settings aim it. The roles'
    passwords are their names unless ``passwords`` says otherwise."""

    address: str
    def __init__(self, address: str = "127.0.0.1", seed: int = 1, profile_rate: float = 100.0,
                 points_per_profile: int = 640, passwords: Optional[dict[str, str]] = None,
                 ws_port: int = 80) -> None:
        """Starts listening at once on port ``ws_port`` (80, as a sensor; root only) of the
        address; clients then connect to "address:ws_port". ConnectionError when the port cannot
        be bound (for port 80 without root: what to do instead), InvalidArgumentError for
        options out of range."""
    def __enter__(self) -> VirtualSensor: ...
    def __exit__(self, *args: object) -> None:
        """Stops the sensor."""
    def close(self) -> None:
        """Stops the sensor; later calls raise StateError."""
    def set_faults(self, **rates: float) -> None:
        """Fault rates from 0 to 1 for later replies and datagrams: reply_delay, reply_missing,
        connection_drop, datagram_loss, datagram_duplicate, datagram_reorder,
        datagram_truncate. Rates not given are 0."""
    def read(self, resource: str) -> Any:
        """The current body of a resource, as the sensor would answer a GET."""
    def blocks_sent(self) -> int:
        """Blocks sent on the UDP output so far."""
    def open_connections(self) -> int:
        """Connections open now."""
    def wait_for_open_connections(self, count: int, timeout: float) -> bool:
        """Waits up to ``timeout`` seconds until ``count`` connections are open."""
