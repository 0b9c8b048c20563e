"""Captures 1000 profiles from a virtual sensor and draws them as a height map in millimetres
(heightmap.png).

    PYTHONPATH=build/python /usr/bin/python3 examples/heightmap.py [OUTPUT.png [ADDRESS [PORT]]]

The virtual sensor runs in this process on ADDRESS (127.0.0.77), on port 80 when run as root and
on port 8077 otherwise, and streams to the UDP port PORT (5077); with a real sensor, connect to
its address instead and leave the VirtualSensor out.
"""

import os
import sys

import matplotlib

matplotlib.use("Agg")  # draws into files, no display needed
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402

import quil  # noqa: E402
from quil.sim import VirtualSensor  # noqa: E402


def main(output: str, address: str, port: int) -> None:
    # Port 80, as a sensor serves it, needs root; an ordinary user's sensor takes another.
    ws_port = 80 if os.geteuid() == 0 else 8077
    with VirtualSensor(address=address, profile_rate=500, ws_port=ws_port):
        with quil.connect(f"{address}:{ws_port}", udp_port=port) as client:
            client.login("operator", "operator")
            with client.stream(data_ids=[1]) as stream:
                # Each profile in millimetres, converted with the sensor's own descriptions.
                profiles = list(stream.profiles(timeout=2.0, count=1000, millimetres=True))
                lost = stream.statistics()["blocksLost"]
                z_name = stream.coordinates().z_axis_name

    heights = quil.stack(profiles)  # z in mm, one row per profile; NaN where no laser line
    x = quil.stack(profiles, channel=1)  # x in mm of every point
    figure, axes = plt.subplots(figsize=(8, 6))
    # The points of a profile lie evenly across the field of view, so x spans the columns.
    extent = (np.nanmin(x), np.nanmax(x), len(profiles), 0)
    image = axes.imshow(heights, aspect="auto", cmap="viridis", interpolation="nearest",
                        extent=extent)
    axes.set_xlabel("x (mm)")
    axes.set_ylabel("profile")
    axes.set_title(f"{len(profiles)} profiles, {lost} blocks lost")
    figure.colorbar(image, ax=axes, label=f"z, {z_name} (mm)")
    figure.savefig(output, dpi=100)
    print(f"{output}: {heights.shape[0]} profiles of {heights.shape[1]} points")


if __name__ == "__main__":
    arguments = sys.argv[1:] + ["heightmap.png", "127.0.0.77", "5077"][len(sys.argv) - 1:]
    main(arguments[0], arguments[1], int(arguments[2]))
