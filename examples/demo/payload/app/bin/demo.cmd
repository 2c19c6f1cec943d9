@echo off
echo volok demo: the program that the package installs
