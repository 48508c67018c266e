import mbus

with mbus.Library(), mbus.Sink("thermostat") as sink:
    control = sink.service("control")
    for message in control.messages(timeout=30):
        print(message.kind, message.procedure, message.argument)
        if message.kind == mbus.QUERY:
            message.reply({"celsius": 21.5, "unit": "C"})
        elif message.procedure == "stop":
            break
    print("state:", control.state)
