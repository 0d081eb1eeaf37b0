# The two front-door commands; each sets up everything it needs itself (see README.md).
.PHONY: demo test
demo:
	@scripts/demo.sh
test:
	@scripts/test.sh
