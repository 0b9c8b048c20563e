"""The virtual sensor, running in this process: test Python code without hardware.

>>> from quil.sim import VirtualSensor
>>> with VirtualSensor(address="127.0.0.2") as sensor:
...     with quil.connect(sensor.address, udp_port=5002) as client:
...         print(client.get_sensor_meta_data().sensorType)

It listens on TCP port 80 of a loopback address, which needs root or ``cap_net_bind_service``;
an ordinary user gives another port, ``VirtualSensor(address=..., ws_port=8080)``, and connects
to "address:8080".
"""

from ._quil import sim as _sim

VirtualSensor = _sim.VirtualSensor

__all__ = ["VirtualSensor"]
