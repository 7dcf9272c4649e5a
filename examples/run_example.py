"""The main job: for now, greet from the installed module."""
import morvane

print(morvane.hello())
