"""A minimal sensor on a WebSocket server written by others (python3-websockets), used to check
that the client interoperates with it, compression included.

Usage: reference_sensor.py ADDRESS [PORT]. Listens on ADDRESS:PORT (80 by default), prints "ready" once it listens and
serves until it is terminated. Every request it receives is printed as one line.
"""
import asyncio
import json
import sys

import websockets

IDENTITY = {"vendorName": "Varkon", "sensorType": "QL-2D 100", "serialNumber": "4711",
            "aggregateVersion": "1.0.0"}


async def serve(connection, path=None):
    async for text in connection:
        print(text, flush=True)
        request = json.loads(text)
        kind = request["msgType"]
        reply = {"msgID": request["msgID"], "msgType": "ACK"}
        if kind == "CONNECT":
            reply["sessionID"] = 42
        elif kind == "GET":
            name = request["msgData"][0]
            reply["msgData"] = [name, IDENTITY] if name == "SensorMetaData" else [name]
        elif kind == "SET":
            reply["msgData"] = [request["msgData"][0]]
        await connection.send(json.dumps(reply))


async def main(address, port):
    async with websockets.serve(serve, address, port, subprotocols=["VWS"], compression="deflate"):
        print("ready", flush=True)
        await asyncio.Future()


if __name__ == "__main__":
    asyncio.run(main(sys.argv[1], int(sys.argv[2]) if len(sys.argv) > 2 else 80))
