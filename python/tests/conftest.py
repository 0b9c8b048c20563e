"""Shared fixtures: virtual sensors in this process, each on its own loopback address, and
clients with their own UDP ports (127.0.20.1-60 and 31000-31199 belong to these tests)."""

import itertools

import pytest

import quil
from quil.sim import VirtualSensor

_addresses = itertools.cycle(f"127.0.20.{n}" for n in range(1, 61))
_ports = itertools.cycle(range(31000, 31200))


def next_address() -> str:
    return next(_addresses)


def next_port() -> int:
    return next(_ports)


@pytest.fixture
def sensor():
    with VirtualSensor(address=next_address(), profile_rate=1000, points_per_profile=640) as s:
        yield s


@pytest.fixture
def client(sensor):
    with quil.connect(sensor.address, udp_port=next_port()) as c:
        yield c


@pytest.fixture
def maintenance(client):
    client.login("maintenance", "maintenance")
    return client
