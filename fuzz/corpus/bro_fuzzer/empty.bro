# SSBA file v1.0
0 0
