"""receiver.py in an asyncio event loop, without a thread: the loop watches the service's
descriptor (SinkService.fileno) while a second task keeps ticking."""
import asyncio

import mbus


async def tick():
    while True:
        await asyncio.sleep(0.5)
        print("tick")


async def main():
    with mbus.Library(), mbus.Sink("thermostat") as sink:
        control = sink.service("control")
        ticker = asyncio.create_task(tick())
        async for message in control.amessages(timeout=30):
            print(message.kind, message.procedure, message.argument)
            if message.kind == mbus.QUERY:
                message.reply({"celsius": 21.5, "unit": "C"})
            elif message.procedure == "stop":
                break
        ticker.cancel()
        print("state:", control.state)


asyncio.run(main())
