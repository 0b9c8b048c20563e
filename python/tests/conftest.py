"""Shared fixtures: virtual sensors in this process, each on its own loopback address, and
clients with their own UDP ports, from the block of addresses that tests/CMakeLists.txt gives
these tests (QUIL_TEST_BLOCK; 9 when pytest is run by hand)."""

import itertools
import os

import pytest

import quil
from quil.sim import VirtualSensor

_block = int(os.environ.get("QUIL_TEST_BLOCK", "9"))
_addresses = itertools.cycle(f"127.{_block}.0.{n}" for n in range(1, 255))
_ports = itertools.cycle(range(10000 + 2000 * _block, 12000 + 2000 * _block))


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
