import mbus

# The own sink receives the reply to the query.
with mbus.Library(), mbus.Sink("controller"), mbus.Source("thermostat") as thermostat:
    control = thermostat.service("control")
    control.call("setpoint", 21.5)
    print("temperature:", control.query("temperature", timeout=5))
    control.advise({"mode": "heat"})
    control.update({"fan": True})
    control.call("stop")
