<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="zh_CN">
<context>
    <name>capture_action</name>
    <message>
        <source>录制线路</source>
        <translation>Capture line</translation>
    </message>
    <message>
        <source>录制线路…</source>
        <translation>Capture line…</translation>
    </message>
    <message>
        <source>: 录制线路 </source>
        <translation>: capturing the line to </translation>
    </message>
    <message>
        <source>无法录制到 %1：%2</source>
        <translation>Cannot capture to %1: %2</translation>
    </message>
    <message>
        <source>录制文件</source>
        <translation>capture file</translation>
    </message>
    <message>
        <source>录制文件 %1 已达 %2 MiB 上限，此后的线路未录制。</source>
        <translation>The capture file %1 reached its limit of %2 MiB; the line after that was not captured.</translation>
    </message>
    <message>
        <source>无法继续写入录制文件 %1：%2此后的线路未录制。</source>
        <translation>Cannot go on writing the capture file %1: %2 The line after that was not captured.</translation>
    </message>
    <message>
        <source>线路录制 (*.pcapng);;所有文件 (*)</source>
        <translation>Line captures (*.pcapng);;All files (*)</translation>
    </message>
</context>
<context>
    <name>health_dialog</name>
    <message>
        <source>停止</source>
        <translation>Stop</translation>
    </message>
    <message>
        <source>关闭</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>各模块的应答</source>
        <translation>Replies per module</translation>
    </message>
    <message>
        <source>地址</source>
        <translation>Address</translation>
    </message>
    <message>
        <source>请求</source>
        <translation>Requests</translation>
    </message>
    <message>
        <source>超时</source>
        <translation>Timeouts</translation>
    </message>
    <message>
        <source>乱码</source>
        <translation>Garbled</translation>
    </message>
    <message>
        <source>应答时间（最短 / 中位 / 95% / 最长）</source>
        <translation>Reply time (min / median / 95% / max)</translation>
    </message>
    <message>
        <source>诊断结果</source>
        <translation>Findings</translation>
    </message>
    <message>
        <source>正在查找地址 0 到 255 上的模块……</source>
        <translation>Looking for modules at addresses 0 to 255…</translation>
    </message>
    <message>
        <source>正在测量各模块的应答（%1 / %2）……</source>
        <translation>Measuring the replies of each module (%1 / %2)…</translation>
    </message>
    <message>
        <source>正在监听空闲的线路……</source>
        <translation>Listening to the idle line…</translation>
    </message>
    <message>
        <source>诊断完毕，没有发现问题。</source>
        <translation>Done: no problem found.</translation>
    </message>
    <message>
        <source>诊断完毕，发现 %1 个问题：</source>
        <translation>Done: %1 problem(s) found:</translation>
    </message>
    <message>
        <source>诊断已停止，没有结论。</source>
        <translation>Stopped before a conclusion.</translation>
    </message>
    <message>
        <source>串口已断开，诊断已停止。</source>
        <translation>The port was lost; the check stopped.</translation>
    </message>
    <message>
        <source>没有应答</source>
        <translation>no reply</translation>
    </message>
</context>
<context>
    <name>health_texts</name>
    <message>
        <source>发往地址 %1 的每个请求都收到乱码，其他地址应答正常：可能有两个模块设成了同一地址 %1，也可能该地址的模块有故障。请逐个断开该地址上的模块（或断开其电源）后再诊断一次：只剩一个模块时应答恢复正常，就是地址重复，请把其中一个改成空闲的地址。</source>
        <translation>Every request to address %1 got a garbled reply while the other addresses answer normally: two modules may be set to the same address %1, or the module at that address is faulty. Disconnect the modules at that address one by one (or switch them off) and check again: if the replies are normal once only one is left, the address is duplicated; move one of the modules to a free address.</translation>
    </message>
    <message>
        <source>总线空闲时仍收到数据，约每秒 %1 字节：线路上有干扰。请检查总线两端的终端电阻（各 120 Ω）、偏置电阻、屏蔽层接地以及各设备是否共地。</source>
        <translation>Data arrives while the bus is idle, about %1 bytes per second: the line picks up noise. Check the termination resistors at both ends of the bus (120 Ω each), the bias resistors, the grounding of the shield, and that all devices share a common ground.</translation>
    </message>
    <message>
        <source>串口适配器把自己发出的请求又送了回来（回显）。本程序能识别并略过回显，但最好关掉它：在适配器的设置中关闭回显（echo），或把 RS-485 设为发送时不接收。</source>
        <translation>The serial adapter sends its own requests back (echo). This program recognises and skips the echo, but it is better switched off: disable echo in the adapter&apos;s settings, or set RS-485 not to receive while sending.</translation>
    </message>
    <message>
        <source>地址 %1 的模块应答偏慢</source>
        <translation>The module at address %1 replies slowly</translation>
    </message>
    <message>
        <source>应答偏慢</source>
        <translation>Replies are slow</translation>
    </message>
    <message>
        <source>：从请求发完到应答收完，中位用时 %1 毫秒，一次问答比两帧本身的线路时间（%2 毫秒）多出 %3 毫秒。</source>
        <translation>: from the end of the request to the end of the reply takes %1 ms (median), %3 ms more than the line time of the two frames themselves (%2 ms).</translation>
    </message>
    <message>
        <source>USB 适配器的延迟计时器（latency timer）为 %1 毫秒，请改为 1 毫秒：Linux 下写入 /sys/bus/usb-serial/devices/ttyUSBn/latency_timer，Windows 下在设备管理器中该端口的“高级”设置里修改。</source>
        <translation>The USB adapter&apos;s latency timer is %1 ms; set it to 1 ms: on Linux write /sys/bus/usb-serial/devices/ttyUSBn/latency_timer, on Windows change it in the port&apos;s &quot;Advanced&quot; settings in Device Manager.</translation>
    </message>
    <message>
        <source>原因可能是 USB 适配器的延迟计时器（latency timer，请设为 1 毫秒），也可能是模块本身的应答延时。</source>
        <translation>The cause may be the USB adapter&apos;s latency timer (set it to 1 ms), or the module&apos;s own reply delay.</translation>
    </message>
    <message>
        <source>有字节回应请求，却始终组不成完整的帧：模块可能用的是别的波特率（应为 9600 波特、8N1），也可能用的是别的通信协议。请核对模块的通信设置。</source>
        <translation>Bytes answer the requests but never form a whole frame: the module may use another baud rate (it should be 9600 baud, 8N1) or another protocol. Check the module&apos;s communication settings.</translation>
    </message>
    <message>
        <source>总线上没有任何应答。请逐项检查：模块是否通电；A、B 两线是否接反；所选串口是否正是接这条总线的适配器；查找的地址范围是否包含模块的地址。</source>
        <translation>Nothing on the bus replies. Check in turn: that the modules are powered; that A and B are not swapped; that the chosen port is the adapter of this bus; that the searched address range includes the modules&apos; addresses.</translation>
    </message>
    <message>
        <source>地址 %1 的模块时答时不答：%2% 的请求超时或收到乱码。请检查该模块的接线、接头和电源，以及它所在的那段线路。</source>
        <translation>The module at address %1 replies only now and then: %2% of the requests timed out or got garbled replies. Check that module&apos;s wiring, connectors and power, and its section of the line.</translation>
    </message>
    <message>
        <source>%1 / %2 / %3 / %4 毫秒</source>
        <translation>%1 / %2 / %3 / %4 ms</translation>
    </message>
    <message>
        <source>线路状况</source>
        <translation>Line condition</translation>
    </message>
    <message>
        <source>应答时间分布</source>
        <translation>Reply time distribution</translation>
    </message>
    <message>
        <source>应答时间（毫秒）</source>
        <translation>Reply time (ms)</translation>
    </message>
    <message>
        <source>计数</source>
        <translation>Count</translation>
    </message>
    <message>
        <source>诊断结果</source>
        <translation>Findings</translation>
    </message>
    <message>
        <source>这条线路上没有发现问题。</source>
        <translation>No problem found on this line.</translation>
    </message>
    <message>
        <source>这条总线上没有模块应答。</source>
        <translation>No module on this bus replies.</translation>
    </message>
    <message>
        <source>请求</source>
        <translation>Requests</translation>
    </message>
    <message>
        <source>超时</source>
        <translation>Timeouts</translation>
    </message>
    <message>
        <source>重发</source>
        <translation>Retries</translation>
    </message>
    <message>
        <source>乱码</source>
        <translation>Garbled</translation>
    </message>
    <message>
        <source>答非所问</source>
        <translation>Mismatched replies</translation>
    </message>
    <message>
        <source>应答时间（最短 / 中位 / 95% / 最长）</source>
        <translation>Reply time (min / median / 95% / max)</translation>
    </message>
    <message>
        <source>观察时长</source>
        <translation>Observed for</translation>
    </message>
    <message>
        <source>发出的请求</source>
        <translation>Requests sent</translation>
    </message>
    <message>
        <source>收到的字节</source>
        <translation>Bytes received</translation>
    </message>
    <message>
        <source>无请求时收到的字节</source>
        <translation>Bytes received with no request out</translation>
    </message>
    <message>
        <source>被回显的请求</source>
        <translation>Echoed requests</translation>
    </message>
    <message>
        <source>组不成帧的字节</source>
        <translation>Bytes forming no frame</translation>
    </message>
    <message>
        <source>帧错误</source>
        <translation>Framing errors</translation>
    </message>
    <message>
        <source>校验错误</source>
        <translation>Parity errors</translation>
    </message>
    <message>
        <source>溢出</source>
        <translation>Overruns</translation>
    </message>
    <message>
        <source>线路中断（break）</source>
        <translation>Breaks</translation>
    </message>
    <message>
        <source>服务器的线路状态通知</source>
        <translation>Line state notices from the server</translation>
    </message>
    <message>
        <source>服务器报告的错误</source>
        <translation>Errors reported by the server</translation>
    </message>
    <message>
        <source>适配器延迟计时器（毫秒）</source>
        <translation>Adapter latency timer (ms)</translation>
    </message>
    <message>
        <source>%1 的应答时间分布</source>
        <translation>Reply time distribution of %1</translation>
    </message>
    <message>
        <source>共 %1 次应答，用时 %2 至 %3 毫秒，按应答时间分段计数。</source>
        <translation>%1 replies taking %2 to %3 ms, counted by reply time.</translation>
    </message>
    <message>
        <source>%1 至 %2 毫秒：%3 次应答</source>
        <translation>%1 to %2 ms: %3 replies</translation>
    </message>
    <message>
        <source>线路诊断</source>
        <translation>Line health</translation>
    </message>
</context>
<context>
    <name>language</name>
    <message>
        <source>%1 的值 &quot;%2&quot; 无效：必须是 en（英文）或 zh（中文）。</source>
        <translation>%1 &quot;%2&quot; is not valid: it must be en (English) or zh (Chinese).</translation>
    </message>
</context>
<context>
    <name>main_form</name>
    <message>
        <source>串口号：</source>
        <translation>Port:</translation>
    </message>
    <message>
        <source>串口号</source>
        <translation>Port</translation>
    </message>
    <message>
        <source>模块自身地址：</source>
        <translation>Module:</translation>
    </message>
    <message>
        <source>模块自身地址</source>
        <translation>Module address</translation>
    </message>
    <message>
        <source>地址</source>
        <translation>Addr.</translation>
    </message>
    <message>
        <source>线路</source>
        <translation>Line</translation>
    </message>
    <message>
        <source>操作</source>
        <translation>Op.</translation>
    </message>
    <message>
        <source>按键%1</source>
        <translation>Key %1</translation>
    </message>
    <message>
        <source>：</source>
        <translation>:</translation>
    </message>
    <message>
        <source> 地址</source>
        <translation> address</translation>
    </message>
    <message>
        <source> 线路</source>
        <translation> line</translation>
    </message>
    <message>
        <source> 操作</source>
        <translation> operation</translation>
    </message>
    <message>
        <source>刷新周期：</source>
        <translation>Refresh:</translation>
    </message>
    <message>
        <source>刷新周期</source>
        <translation>Refresh period</translation>
    </message>
    <message>
        <source>串口号：输入 1 表示第一个串口，或输入设备名/路径</source>
        <translation>Port: type 1 for the first serial port, or a device name or path</translation>
    </message>
    <message>
        <source>可用串口（按 ↓ 键选择）：
</source>
        <translation>Available ports (press ↓ to choose):
</translation>
    </message>
    <message>
        <source>打开配置文件…</source>
        <translation>Open configuration file…</translation>
    </message>
    <message>
        <source>保存配置文件…</source>
        <translation>Save configuration file…</translation>
    </message>
    <message>
        <source>查找模块…</source>
        <translation>Find modules…</translation>
    </message>
    <message>
        <source>与模块核对</source>
        <translation>Compare with module</translation>
    </message>
    <message>
        <source>打开工程…</source>
        <translation>Open site…</translation>
    </message>
    <message>
        <source>线路诊断</source>
        <translation>Line health</translation>
    </message>
    <message>
        <source>正在与模块核对，请等核对结束后再试。</source>
        <translation>A comparison with the module is running; try again once it has finished.</translation>
    </message>
    <message>
        <source>正在传输数据，请等传输结束后再试。</source>
        <translation>A transfer is running; try again once it has finished.</translation>
    </message>
    <message>
        <source>无法打开配置文件 %1：%2</source>
        <translation>Cannot open the configuration file %1: %2</translation>
    </message>
    <message>
        <source>无法保存配置文件 %1：%2</source>
        <translation>Cannot save the configuration file %1: %2</translation>
    </message>
    <message>
        <source>打开</source>
        <translation>Open</translation>
    </message>
    <message>
        <source>关闭</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>打开配置文件</source>
        <translation>Open configuration file</translation>
    </message>
    <message>
        <source>保存配置文件</source>
        <translation>Save configuration file</translation>
    </message>
    <message>
        <source>无法记住所选的语言（%1）：%2</source>
        <translation>Cannot remember the chosen language (%1): %2</translation>
    </message>
    <message>
        <source>设置文件</source>
        <translation>settings file</translation>
    </message>
</context>
<context>
    <name>message_box</name>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>配置文件 (*.json);;所有文件 (*)</source>
        <translation>Configuration files (*.json);;All files (*)</translation>
    </message>
</context>
<context>
    <name>operation_texts</name>
    <message>
        <source>按下翻转</source>
        <translation>toggle</translation>
    </message>
    <message>
        <source>按下闭合 抬起断开</source>
        <translation>momentary</translation>
    </message>
    <message>
        <source>按下点动闭合0.5秒</source>
        <translation>pulse 0.5 s</translation>
    </message>
</context>
<context>
    <name>port_texts</name>
    <message>
        <source>tcp://主机:端口、rfc2217://主机:端口，或在 TLS 之内的 tcp+tls://、rfc2217+tls://</source>
        <translation>tcp://HOST:PORT, rfc2217://HOST:PORT, or tcp+tls:// and rfc2217+tls:// inside TLS</translation>
    </message>
    <message>
        <source>串口号必须是 1 到 %1 之间的整数，或串口设备名（例如 COM3、ttyUSB0、/dev/ttyUSB0）</source>
        <translation>The port must be a whole number from 1 to %1 or a serial device name (such as COM3, ttyUSB0, /dev/ttyUSB0)</translation>
    </message>
    <message>
        <source>网络串口地址 %1 的协议“%2”不可用：地址应为 %3（例如 %4）</source>
        <translation>The network port %1 uses the unknown scheme &quot;%2&quot;: give %3 (such as %4)</translation>
    </message>
    <message>
        <source>网络串口地址 %1 的主机“%2”无效：主机应为主机名、IPv4 地址，或写在方括号内的 IPv6 地址（例如 %3、tcp://[::1]:4001）</source>
        <translation>The host &quot;%2&quot; of the network port %1 is not valid: it must be a host name, an IPv4 address or an IPv6 address in brackets (such as %3, tcp://[::1]:4001)</translation>
    </message>
    <message>
        <source>网络串口地址 %1 缺少端口号：端口号必须是 1 到 %2 之间的整数（例如 %3）</source>
        <translation>The network port %1 has no port number: it must be a whole number from 1 to %2 (such as %3)</translation>
    </message>
    <message>
        <source>网络串口地址 %1 的端口号必须是 1 到 %2 之间的整数，不能是“%3”</source>
        <translation>The port number of the network port %1 must be a whole number from 1 to %2, not &quot;%3&quot;</translation>
    </message>
    <message>
        <source>指纹：%1
主体：%2
有效期至：%3</source>
        <translation>Fingerprint: %1
Subject: %2
Valid until: %3</translation>
    </message>
    <message>
        <source>本机的 Qt 没有可用的 TLS 支持；在 Windows 上，程序旁应有 tls\qschannelbackend.dll。</source>
        <translation>This computer&apos;s Qt has no TLS support; on Windows, tls\qschannelbackend.dll belongs beside the program.</translation>
    </message>
    <message>
        <source>无法使用 TLS</source>
        <translation>TLS is not available</translation>
    </message>
    <message>
        <source>请在该位置放一个普通文件，或删除它。</source>
        <translation>Put a regular file there, or remove it.</translation>
    </message>
    <message>
        <source>无法读取文件 %1：%2</source>
        <translation>Cannot read the file %1: %2</translation>
    </message>
    <message>
        <source>请检查该文件是否存在、能否读取。</source>
        <translation>Check that the file exists and can be read.</translation>
    </message>
    <message>
        <source>无法读取文件 %1</source>
        <translation>Cannot read the file %1</translation>
    </message>
    <message>
        <source>证书须为 PEM 或 DER 格式；私钥须为不带密码的 EC、RSA 或 DSA 密钥，并与证书配对。</source>
        <translation>A certificate must be PEM or DER; a private key must be an EC, RSA or DSA key without a passphrase, matching the certificate.</translation>
    </message>
    <message>
        <source>文件 %1 中没有可用的证书或私钥</source>
        <translation>The file %1 holds no usable certificate or private key</translation>
    </message>
    <message>
        <source>该端口可能不使用 TLS：请改用 %1。</source>
        <translation>That port may not use TLS: use %1 instead.</translation>
    </message>
    <message>
        <source>服务器没有以 TLS 应答（%1 秒内没有完成 TLS 握手，或应答的不是 TLS）</source>
        <translation>The server did not answer in TLS (no TLS handshake within %1 s, or the answer was not TLS)</translation>
    </message>
    <message>
        <source>请改用 %1。</source>
        <translation>Use %1 instead.</translation>
    </message>
    <message>
        <source>服务器在该端口上使用 TLS</source>
        <translation>The server uses TLS on that port</translation>
    </message>
    <message>
        <source>服务器的证书不受信任，未发送任何数据</source>
        <translation>The server&apos;s certificate is not trusted; nothing was sent</translation>
    </message>
    <message>
        <source>服务器的证书已更改，未发送任何数据</source>
        <translation>The server&apos;s certificate has changed; nothing was sent</translation>
    </message>
    <message>
        <source>本机为 %1 保存的指纹：%2
服务器现在的证书：
%3
这可能是对连接的攻击。如果确认服务器有意更换了证书，请在服务器上核对新指纹，然后在 %4 中删除 %1 这一行再重试（会再次询问），或运行 lorvane-cli trust %1 %5。</source>
        <translation>Fingerprint stored for %1: %2
The server&apos;s certificate now:
%3
This may be an attack on the connection. If the server&apos;s certificate was replaced on purpose, check the new fingerprint on the server, then delete the line of %1 in %4 and try again (you will be asked again), or run lorvane-cli trust %1 %5.</translation>
    </message>
    <message>
        <source>请把客户端证书和私钥保存为 %1 中的 client.crt 和 client.key。证书的 CN 须为服务器上的用户名，并已放入服务器的 authdir/&lt;CN&gt;/allowed_certs。</source>
        <translation>Save the client certificate and private key as client.crt and client.key in %1. The certificate&apos;s CN must be a user name on the server, and the certificate must be in the server&apos;s authdir/&lt;CN&gt;/allowed_certs.</translation>
    </message>
    <message>
        <source>服务器在 TLS 握手后立即关闭了连接：它要求客户端证书</source>
        <translation>The server closed the connection right after the TLS handshake: it asks for a client certificate</translation>
    </message>
    <message>
        <source>证书的 CN 须为服务器上的用户名，并已放入服务器的 authdir/&lt;CN&gt;/allowed_certs（之后须运行 openssl rehash）。</source>
        <translation>The certificate&apos;s CN must be a user name on the server, and the certificate must be in the server&apos;s authdir/&lt;CN&gt;/allowed_certs (then run openssl rehash).</translation>
    </message>
    <message>
        <source>服务器在 TLS 握手后立即关闭了连接：它不接受客户端证书 %1，需要另一个证书</source>
        <translation>The server closed the connection right after the TLS handshake: it does not accept the client certificate %1 and wants another one</translation>
    </message>
    <message>
        <source>
服务器说：“%1”</source>
        <translation>
The server says: &quot;%1&quot;</translation>
    </message>
    <message>
        <source>请检查地址中的主机名，以及本机的网络和域名解析设置。</source>
        <translation>Check the host name in the address, and this computer&apos;s network and name resolution settings.</translation>
    </message>
    <message>
        <source>找不到服务器主机</source>
        <translation>The server&apos;s host was not found</translation>
    </message>
    <message>
        <source>请检查端口号，以及串口服务器是否在运行、该端口是否已启用。</source>
        <translation>Check the port number, that the serial server is running and that the port is enabled on it.</translation>
    </message>
    <message>
        <source>服务器拒绝连接</source>
        <translation>The server refused the connection</translation>
    </message>
    <message>
        <source>请检查主机地址、网络连接和防火墙。</source>
        <translation>Check the host address, the network connection and the firewall.</translation>
    </message>
    <message>
        <source>%1 秒内没有连上服务器</source>
        <translation>No connection to the server within %1 s</translation>
    </message>
    <message>
        <source>请确认服务器的这个端口工作在 RFC 2217 模式；若它是原始 TCP 模式，请改用 tcp:// 地址，并在服务器上把串口设为 9600 波特、8N1。</source>
        <translation>Make sure this port of the server works in RFC 2217 mode; if it is in raw TCP mode, use a tcp:// address and set the server&apos;s serial port to 9600 baud, 8N1.</translation>
    </message>
    <message>
        <source>服务器不接受 RFC 2217 串口设置（9600 波特、8 个数据位、无校验、1 个停止位、无流控），或在 %1 秒内没有确认</source>
        <translation>The server refused the RFC 2217 port settings (9600 baud, 8 data bits, no parity, 1 stop bit, no flow control), or did not confirm them within %1 s</translation>
    </message>
    <message>
        <source>服务器接受连接后立即关闭了它：该串口可能正被另一个客户端使用。请断开另一个连接，然后重试。</source>
        <translation>The server closed the connection right after accepting it: another client may be using that port. Disconnect the other client, then try again.</translation>
    </message>
    <message>
        <source>串口正被其他程序占用</source>
        <translation>The port is in use by another program</translation>
    </message>
    <message>
        <source>该串口可能正被另一个客户端使用，或服务器无法打开它的串口设备。</source>
        <translation>Another client may be using that port, or the server cannot open its serial device.</translation>
    </message>
    <message>
        <source>服务器在 RFC 2217 设置过程中关闭了连接</source>
        <translation>The server closed the connection during the RFC 2217 setup</translation>
    </message>
    <message>
        <source>连接已关闭。请检查服务器。</source>
        <translation>The connection was closed. Check the server.</translation>
    </message>
    <message>
        <source>服务器发送 Telnet 请求却不读取应答（待发送的数据超过 %1 KiB）</source>
        <translation>The server sends Telnet requests but reads no answers (more than %1 KiB waiting to be sent)</translation>
    </message>
    <message>
        <source>%1 %2 正由工程窗口使用：核对或写入结束后，工程窗口会释放它。
请等核对或写入结束，或在工程窗口中点“停止”，然后重试。</source>
        <translation>%1 %2 is in use by the site window, which lets it go when its check or write ends.
Wait for the end, or click &quot;Stop&quot; in the site window, then try again.</translation>
    </message>
    <message>
        <source>网络串口</source>
        <translation>The network port</translation>
    </message>
    <message>
        <source>串口</source>
        <translation>The port</translation>
    </message>
    <message>
        <source>无法打开网络串口 %1：%2。</source>
        <translation>Cannot open the network port %1: %2.</translation>
    </message>
    <message>
        <source>
系统原因：</source>
        <translation>
System reason: </translation>
    </message>
    <message>
        <source>串口 %1 不支持 9600 波特、8 个数据位、无校验、1 个停止位。
系统原因：%2</source>
        <translation>The port %1 does not support 9600 baud, 8 data bits, no parity, 1 stop bit.
System reason: %2</translation>
    </message>
    <message>
        <source>找不到该串口设备</source>
        <translation>No such serial device</translation>
    </message>
    <message>
        <source>请检查串口号，以及串口线或 USB 转串口适配器是否已插好。</source>
        <translation>Check the port, and that the serial cable or the USB serial adapter is plugged in.</translation>
    </message>
    <message>
        <source>没有权限打开该串口</source>
        <translation>No permission to open the port</translation>
    </message>
    <message>
        <source>在 Linux 上，请把当前用户加入 dialout 组（sudo usermod -aG dialout $USER），然后重新登录。</source>
        <translation>On Linux, add your user to the dialout group (sudo usermod -aG dialout $USER), then log in again.</translation>
    </message>
    <message>
        <source>请关闭正在使用该串口的其他程序（例如串口调试助手或另一个 Lorvane），然后重试；在设备管理器中可以确认端口号。</source>
        <translation>Close the other program using the port (a serial terminal or another Lorvane, for example), then try again; Device Manager shows the port&apos;s number.</translation>
    </message>
    <message>
        <source>请关闭正在使用该串口的其他程序（例如串口终端、另一个 Lorvane 或 ModemManager），然后重试。</source>
        <translation>Close the other program using the port (a serial terminal, another Lorvane or ModemManager, for example), then try again.</translation>
    </message>
    <message>
        <source>串口已被打开</source>
        <translation>The port is already open</translation>
    </message>
    <message>
        <source>无法打开</source>
        <translation>Cannot open it</translation>
    </message>
    <message>
        <source>无法打开串口 %1：%2。
系统原因：%3</source>
        <translation>Cannot open the port %1: %2.
System reason: %3</translation>
    </message>
    <message>
        <source>网络串口 %1 的服务器不读取发给它的数据（待发送的数据超过 %2 KiB），连接已关闭，串口已关闭。</source>
        <translation>The server of the network port %1 reads nothing sent to it (more than %2 KiB waiting to be sent); the connection and the port are closed.</translation>
    </message>
    <message>
        <source>网络串口 %1 的服务器在收到第一个请求时关闭了连接：它在该端口上使用 TLS，请改用 %2。串口已关闭。</source>
        <translation>The server of the network port %1 closed the connection at the first request: it uses TLS on that port; use %2 instead. The port is closed.</translation>
    </message>
    <message>
        <source>网络串口 %1 的连接已断开（服务器关闭了连接或网络中断），串口已关闭。</source>
        <translation>The connection of the network port %1 was lost (the server closed it or the network failed); the port is closed.</translation>
    </message>
    <message>
        <source>串口 %1 已断开（设备被拔出或不再可用），串口已关闭。</source>
        <translation>The port %1 was lost (the device was unplugged or is gone); the port is closed.</translation>
    </message>
    <message>
        <source>网络串口 %1 的服务器出示的证书既未经受信任的证书机构为该主机认证，也未被本机记住：

%2

请在服务器上核对指纹（openssl x509 -noout -fingerprint -sha256 -in 证书文件）。是否信任该服务器？
“%3”会把指纹记入 %4，以后不再询问；“%5”则不连接。</source>
        <translation>The server of the network port %1 shows a certificate that no trusted authority issued for that host and that this computer has not stored:

%2

Check the fingerprint on the server (openssl x509 -noout -fingerprint -sha256 -in CERTIFICATE-FILE). Trust this server?
&quot;%3&quot; stores the fingerprint in %4 and does not ask again; &quot;%5&quot; does not connect.</translation>
    </message>
    <message>
        <source>它不是普通文件（而是设备、管道或套接字），没有读取</source>
        <translation>it is not a regular file (but a device, pipe or socket); not read</translation>
    </message>
    <message>
        <source>这是一个文件夹，不是普通文件</source>
        <translation>it is a folder, not a regular file</translation>
    </message>
    <message>
        <source>文件超过 %1 MiB</source>
        <translation>the file is larger than %1 MiB</translation>
    </message>
    <message>
        <source>无法把证书指纹记入 %1：%2。串口没有打开。</source>
        <translation>Cannot store the fingerprint in %1: %2. The port was not opened.</translation>
    </message>
    <message>
        <source>网络串口 %1 的服务器证书已于 %2 过期。请在服务器上更新证书，然后重新信任新证书。</source>
        <translation>The server certificate of the network port %1 expired on %2. Renew the certificate on the server, then trust the new one.</translation>
    </message>
    <message>
        <source>网络串口 %1 的服务器证书将于 %2 到期（还有 %3 天）。请在此之前在服务器上更新证书，然后重新信任新证书。</source>
        <translation>The server certificate of the network port %1 expires on %2 (in %3 days). Renew it on the server before then, and trust the new one.</translation>
    </message>
    <message>
        <source>（</source>
        <translation> (</translation>
    </message>
    <message>
        <source>）</source>
        <translation>)</translation>
    </message>
    <message>
        <source>未知的服务器证书</source>
        <translation>Unknown server certificate</translation>
    </message>
    <message>
        <source>信任并保存</source>
        <translation>Trust and store</translation>
    </message>
    <message>
        <source>拒绝</source>
        <translation>Refuse</translation>
    </message>
    <message>
        <source>%1（%2）</source>
        <translation>%1 (%2)</translation>
    </message>
    <message>
        <source>原始 TCP</source>
        <translation>raw TCP</translation>
    </message>
    <message>
        <source>TCP，TLS 加密</source>
        <translation>TCP in TLS</translation>
    </message>
    <message>
        <source>RFC 2217，TLS 加密</source>
        <translation>RFC 2217 in TLS</translation>
    </message>
    <message>
        <source>不支持</source>
        <translation>not supported</translation>
    </message>
    <message>
        <source>本系统不支持服务发现（DNS-SD）</source>
        <translation>discovery (DNS-SD) is not available on this system</translation>
    </message>
    <message>
        <source>Avahi 服务（avahi-daemon）没有运行</source>
        <translation>the Avahi daemon (avahi-daemon) is not running</translation>
    </message>
    <message>
        <source>服务发现出错</source>
        <translation>discovery (DNS-SD) failed</translation>
    </message>
    <message>
        <source>服务发现出错：</source>
        <translation>discovery (DNS-SD) failed: </translation>
    </message>
    <message>
        <source>（没有网络串口服务器：%1）</source>
        <translation>(no serial servers: %1)</translation>
    </message>
    <message>
        <source>无法打开 %1：%2 秒内没有找到以这个名字发布的网络串口服务器。
请检查名字，以及服务器是否已开启、是否在同一网络中；串口号的列表（按 ↓ 键）列出找到的服务器。</source>
        <translation>Cannot open %1: no serial server advertised under this name was found within %2 s.
Check the name, and that the server is on and on the same network; the port list (press ↓) lists the servers found.</translation>
    </message>
    <message>
        <source>无法打开 %1：有 %2 台服务器以这个名字发布（主机 %3）。
请给其中一台改名，或直接输入它的地址。</source>
        <translation>Cannot open %1: %2 servers advertise this name (hosts %3).
Rename one of them, or type its address instead.</translation>
    </message>
    <message>
        <source>、</source>
        <translation>, </translation>
    </message>
    <message>
        <source>无法打开 %1：服务器发布的协议栈“%2”本程序不支持（支持 tcp、telnet(rfc2217),tcp，以及在 ssl 之内的这两种）。</source>
        <translation>Cannot open %1: the server advertises the stack &quot;%2&quot;, which is not supported (supported: tcp, telnet(rfc2217),tcp, and either inside ssl).</translation>
    </message>
    <message>
        <source>无法打开 %1：%2。</source>
        <translation>Cannot open %1: %2.</translation>
    </message>
    <message>
        <source>无法打开 %1：%2，无法查找网络串口服务器。
请启动 avahi-daemon（sudo systemctl start avahi-daemon）。</source>
        <translation>Cannot open %1: %2, so no serial servers can be looked for.
Start avahi-daemon (sudo systemctl start avahi-daemon).</translation>
    </message>
    <message>
        <source>（正在查找网络串口服务器…）</source>
        <translation>(looking for serial servers on the network…)</translation>
    </message>
    <message>
        <source>串口号 %1 无效：网络串口服务器应写成 dnssd:名字，名字为 1 到 %2 个字节（例如 dnssd:line-1）</source>
        <translation>Port %1 is not valid: a network serial server is written dnssd:NAME, the name 1 to %2 bytes long (e.g. dnssd:line-1)</translation>
    </message>
</context>
<context>
    <name>scan_dialog</name>
    <message>
        <source>停止</source>
        <translation>Stop</translation>
    </message>
    <message>
        <source>关闭</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>正在查找地址 0 到 255 上的模块……</source>
        <translation>Looking for modules at addresses 0 to 255…</translation>
    </message>
    <message>
        <source>找到的模块</source>
        <translation>Modules found</translation>
    </message>
    <message>
        <source>再查一遍</source>
        <translation>Search again</translation>
    </message>
    <message>
        <source>地址 %1，刷新周期 %2</source>
        <translation>address %1, refresh period %2</translation>
    </message>
    <message>
        <source>线路上杂波很多：第二轮查找在 %1 个可疑地址未查完时停止，可能漏掉了模块。请检查接线、终端电阻和屏蔽。</source>
        <translation>The line is noisy: the second look stopped with %1 suspect address(es) unchecked; a module may have been missed. Check the wiring, termination and shielding.</translation>
    </message>
    <message>
        <source>有 %1 个应答在传输中损坏，可能漏掉了模块；可点“再查一遍”。</source>
        <translation>%1 reply(s) arrived garbled; a module may have been missed. Click &quot;Search again&quot; to retry.</translation>
    </message>
    <message>
        <source>没有找到模块。请检查接线和模块电源。</source>
        <translation>No module found. Check the wiring and the modules&apos; power.</translation>
    </message>
    <message>
        <source>找到 %1 个模块。按回车键或双击读取所选模块。</source>
        <translation>%1 module(s) found. Press Enter or double-click to read the chosen one.</translation>
    </message>
    <message>
        <source>查找已停止，找到 %1 个模块。</source>
        <translation>Search stopped; %1 module(s) found.</translation>
    </message>
    <message>
        <source>串口已断开，查找已停止。此前找到 %1 个模块。</source>
        <translation>The port was lost; the search stopped. %1 module(s) found before.</translation>
    </message>
    <message>
        <source>查找模块</source>
        <translation>Find modules</translation>
    </message>
</context>
<context>
    <name>server_trust</name>
    <message>
        <source>文件超过 %1 MiB</source>
        <translation>the file is larger than %1 MiB</translation>
    </message>
    <message>
        <source>另一个程序正在写入该文件，%1 秒内没有结束</source>
        <translation>another program is writing the file and did not finish within %1 s</translation>
    </message>
    <message>
        <source>它不是普通文件（而是设备、管道或套接字）</source>
        <translation>it is not a regular file (but a device, pipe or socket)</translation>
    </message>
    <message>
        <source>这是一个文件夹，不是文件</source>
        <translation>it is a folder, not a file</translation>
    </message>
</context>
<context>
    <name>site_report_texts</name>
    <message>
        <source>时间</source>
        <translation>Time</translation>
    </message>
    <message>
        <source>用户</source>
        <translation>User</translation>
    </message>
    <message>
        <source>计算机</source>
        <translation>Computer</translation>
    </message>
    <message>
        <source>工具</source>
        <translation>Tool</translation>
    </message>
    <message>
        <source>用时</source>
        <translation>Duration</translation>
    </message>
    <message>
        <source>概况</source>
        <translation>Summary</translation>
    </message>
    <message>
        <source>串口</source>
        <translation>Port</translation>
    </message>
    <message>
        <source>总线地址图：地址 0 至 255</source>
        <translation>Bus address maps: addresses 0 to 255</translation>
    </message>
    <message>
        <source>图例</source>
        <translation>Legend</translation>
    </message>
    <message>
        <source>地址</source>
        <translation>Address</translation>
    </message>
    <message>
        <source>配置文件</source>
        <translation>Panel file</translation>
    </message>
    <message>
        <source>状态</source>
        <translation>Status</translation>
    </message>
    <message>
        <source>差异</source>
        <translation>Differences</translation>
    </message>
    <message>
        <source>应答时间（最短 / 中位 / 最长）</source>
        <translation>Reply time (min / median / max)</translation>
    </message>
    <message>
        <source>工程中没有</source>
        <translation>not in the site</translation>
    </message>
    <message>
        <source>这条总线上没有模块。</source>
        <translation>No module on this bus.</translation>
    </message>
    <message>
        <source>无模块</source>
        <translation>no module</translation>
    </message>
    <message>
        <source>未扫描</source>
        <translation>not scanned</translation>
    </message>
    <message>
        <source>工程核对</source>
        <translation>Site check</translation>
    </message>
    <message>
        <source>工程写入</source>
        <translation>Site write</translation>
    </message>
    <message>
        <source>工程读取</source>
        <translation>Site read</translation>
    </message>
    <message>
        <source>条总线无法连接</source>
        <translation>bus(es) not reached</translation>
    </message>
    <message>
        <source>%1 条总线，计划中 %2 个模块</source>
        <translation>%1 bus(es), %2 module(s) planned</translation>
    </message>
    <message>
        <source>已连接</source>
        <translation>connected</translation>
    </message>
    <message>
        <source>：</source>
        <translation>: </translation>
    </message>
    <message>
        <source>%1 / %2 / %3 毫秒</source>
        <translation>%1 / %2 / %3 ms</translation>
    </message>
    <message>
        <source>yyyy年M月d日 HH:mm:ss</source>
        <translation>yyyy-MM-dd HH:mm:ss</translation>
    </message>
    <message>
        <source>（UTC%1%2:%3）</source>
        <translation> (UTC%1%2:%3)</translation>
    </message>
    <message>
        <source>%1 的总线地址图</source>
        <translation>Address map of bus %1</translation>
    </message>
    <message>
        <source>地址 %1 %2</source>
        <translation>address %1 %2</translation>
    </message>
    <message>
        <source>其余地址：未扫描。</source>
        <translation>Other addresses: not scanned.</translation>
    </message>
    <message>
        <source>其余地址：无模块。</source>
        <translation>Other addresses: no module.</translation>
    </message>
    <message>
        <source>地址 %1 至 %2 中的其余地址：无模块；其他地址：未扫描。</source>
        <translation>Other addresses from %1 to %2: no module; the rest: not scanned.</translation>
    </message>
    <message>
        <source>地址 0 至 255，分 16 行，每行 16 个。%1。</source>
        <translation>Addresses 0 to 255 in 16 rows of 16. %1.</translation>
    </message>
    <message>
        <source>没有模块</source>
        <translation>no module</translation>
    </message>
    <message>
        <source>，</source>
        <translation>, </translation>
    </message>
    <message>
        <source>地址 %1：%2（%3）</source>
        <translation>address %1: %2 (%3)</translation>
    </message>
    <message>
        <source>地址 %1：%2</source>
        <translation>address %1: %2</translation>
    </message>
    <message>
        <source>待处理事项</source>
        <translation>Open items</translation>
    </message>
    <message>
        <source>总线</source>
        <translation>Bus</translation>
    </message>
    <message>
        <source>问题</source>
        <translation>What is wrong</translation>
    </message>
    <message>
        <source>扫描存疑</source>
        <translation>Scan in doubt</translation>
    </message>
    <message>
        <source>核对所用的文件（SHA-256）</source>
        <translation>Files checked (SHA-256)</translation>
    </message>
    <message>
        <source>工程文件</source>
        <translation>Site file</translation>
    </message>
    <message>
        <source>日志头</source>
        <translation>Audit log head</translation>
    </message>
    <message>
        <source>竣工资料</source>
        <translation>As built</translation>
    </message>
    <message>
        <source>模块</source>
        <translation>module</translation>
    </message>
    <message>
        <source>按键</source>
        <translation>Key</translation>
    </message>
    <message>
        <source>目标地址</source>
        <translation>Target address</translation>
    </message>
    <message>
        <source>线路</source>
        <translation>Line</translation>
    </message>
    <message>
        <source>操作</source>
        <translation>Operation</translation>
    </message>
    <message>
        <source>刷新周期</source>
        <translation>refresh period</translation>
    </message>
    <message>
        <source>无（按模块中读到的）</source>
        <translation>none (as read from the module)</translation>
    </message>
    <message>
        <source>%1 项待处理</source>
        <translation>%1 open item(s)</translation>
    </message>
    <message>
        <source>完成：每个模块都已读取</source>
        <translation>Complete: every module was read</translation>
    </message>
    <message>
        <source>完成：每个模块都与配置文件一致</source>
        <translation>Complete: every module holds its panel</translation>
    </message>
</context>
<context>
    <name>site_texts</name>
    <message>
        <source>，</source>
        <translation>, </translation>
    </message>
    <message>
        <source>数组</source>
        <translation>an array</translation>
    </message>
    <message>
        <source>对象</source>
        <translation>an object</translation>
    </message>
    <message>
        <source>成员 %1</source>
        <translation>member %1</translation>
    </message>
    <message>
        <source>name、port、panels</source>
        <translation>name, port, panels</translation>
    </message>
    <message>
        <source>format、name、buses</source>
        <translation>format, name, buses</translation>
    </message>
    <message>
        <source>按键%1</source>
        <translation>key %1</translation>
    </message>
    <message>
        <source>刷新周期</source>
        <translation>refresh period</translation>
    </message>
    <message>
        <source> 地址</source>
        <translation> address</translation>
    </message>
    <message>
        <source> 线路</source>
        <translation> line</translation>
    </message>
    <message>
        <source> 操作</source>
        <translation> operation</translation>
    </message>
    <message>
        <source>记录 0（刷新周期）</source>
        <translation>record 0 (refresh period)</translation>
    </message>
    <message>
        <source>记录 %1（按键%1）</source>
        <translation>record %1 (key %1)</translation>
    </message>
    <message>
        <source>读取</source>
        <translation>read</translation>
    </message>
    <message>
        <source>写入</source>
        <translation>write</translation>
    </message>
    <message>
        <source>读回</source>
        <translation>read-back</translation>
    </message>
    <message>
        <source>%1 秒</source>
        <translation>%1 s</translation>
    </message>
    <message>
        <source>%1 分 %2 秒</source>
        <translation>%1 min %2 s</translation>
    </message>
    <message>
        <source>串口名无效</source>
        <translation>not a valid port name</translation>
    </message>
    <message>
        <source>找不到该串口设备</source>
        <translation>no such serial device</translation>
    </message>
    <message>
        <source>没有权限打开该串口</source>
        <translation>no permission to open the port</translation>
    </message>
    <message>
        <source>串口正被其他程序占用</source>
        <translation>the port is in use by another program</translation>
    </message>
    <message>
        <source>本程序的另一个窗口正在使用该串口</source>
        <translation>another window of this program uses the port</translation>
    </message>
    <message>
        <source>串口不支持 9600 波特、8N1</source>
        <translation>the port does not support 9600 baud, 8N1</translation>
    </message>
    <message>
        <source>找不到服务器主机</source>
        <translation>the server&apos;s host was not found</translation>
    </message>
    <message>
        <source>服务器拒绝连接</source>
        <translation>the server refused the connection</translation>
    </message>
    <message>
        <source>没有按时连上服务器</source>
        <translation>no connection to the server in time</translation>
    </message>
    <message>
        <source>服务器不接受 RFC 2217 串口设置</source>
        <translation>the server refused the RFC 2217 port settings</translation>
    </message>
    <message>
        <source>服务器在设置串口时关闭了连接</source>
        <translation>the server closed the connection while the port was set up</translation>
    </message>
    <message>
        <source>服务器发送的数据过多</source>
        <translation>the server sent too much data</translation>
    </message>
    <message>
        <source>本机不支持 TLS</source>
        <translation>this computer has no TLS support</translation>
    </message>
    <message>
        <source>无法读取 TLS 文件 %1</source>
        <translation>cannot read the TLS file %1</translation>
    </message>
    <message>
        <source>：</source>
        <translation>: </translation>
    </message>
    <message>
        <source>TLS 文件 %1 无效</source>
        <translation>the TLS file %1 is not valid</translation>
    </message>
    <message>
        <source>服务器的这个端口不使用 TLS</source>
        <translation>this port of the server does not use TLS</translation>
    </message>
    <message>
        <source>服务器的这个端口要求 TLS</source>
        <translation>this port of the server requires TLS</translation>
    </message>
    <message>
        <source>服务器证书未受信任，没有发送任何数据（指纹 %1；信任后重试）</source>
        <translation>the server certificate is not trusted; nothing was sent (fingerprint %1; trust it and try again)</translation>
    </message>
    <message>
        <source>服务器证书未受信任，没有发送任何数据</source>
        <translation>the server certificate is not trusted; nothing was sent</translation>
    </message>
    <message>
        <source>服务器证书已更改，与保存的指纹不符，可能是对连接的攻击；没有发送任何数据</source>
        <translation>the server certificate has changed and does not match the stored fingerprint, which may be an attack on the connection; nothing was sent</translation>
    </message>
    <message>
        <source>服务器要求（另一个）客户端证书</source>
        <translation>the server asks for a (different) client certificate</translation>
    </message>
    <message>
        <source>无法打开</source>
        <translation>cannot open it</translation>
    </message>
    <message>
        <source>（系统原因：%1）</source>
        <translation> (system reason: %1)</translation>
    </message>
    <message>
        <source>%1 个%2</source>
        <translation>%1 %2</translation>
    </message>
    <message>
        <source>%1（%2）</source>
        <translation>%1 (%2)</translation>
    </message>
    <message>
        <source>工程：</source>
        <translation>Site: </translation>
    </message>
    <message>
        <source>文件过大（工程文件不超过 %1 KiB）。</source>
        <translation>The file is too large (a site file is at most %1 KiB).</translation>
    </message>
    <message>
        <source>工程文件</source>
        <translation>site file</translation>
    </message>
    <message>
        <source>不是有效的 JSON 文件（%1）。</source>
        <translation>Not a valid JSON file (%1).</translation>
    </message>
    <message>
        <source>文件必须包含一个 JSON 对象。</source>
        <translation>The file must hold one JSON object.</translation>
    </message>
    <message>
        <source>%1 必须是一个对象，而不是 %2。</source>
        <translation>%1 must be an object, not %2.</translation>
    </message>
    <message>
        <source>%1 不是工程文件的成员（可用的成员：%2）。</source>
        <translation>%1 is not a member of a site file (known: %2).</translation>
    </message>
    <message>
        <source>%1 出现了两次；每个成员只能出现一次。</source>
        <translation>%1 is given twice; each member may appear once.</translation>
    </message>
    <message>
        <source>%1 必须是 &quot;%2&quot;，而不是 %3。</source>
        <translation>%1 must be &quot;%2&quot;, not %3.</translation>
    </message>
    <message>
        <source>缺少%1。</source>
        <translation>%1 is missing.</translation>
    </message>
    <message>
        <source>%1 必须是字符串，而不是 %2。</source>
        <translation>%1 must be a string, not %2.</translation>
    </message>
    <message>
        <source>%1 必须是数组，而不是 %2。</source>
        <translation>%1 must be an array, not %2.</translation>
    </message>
    <message>
        <source>%1 必须列出 1 到 %2 条总线，而不是一条也没有。</source>
        <translation>%1 must list 1 to %2 buses, not none.</translation>
    </message>
    <message>
        <source>%1 列出了 %2 条总线；一个工程最多 %3 条。</source>
        <translation>%1 lists %2 buses; a site has at most %3.</translation>
    </message>
    <message>
        <source>%1 不能为空。</source>
        <translation>%1 must not be empty.</translation>
    </message>
    <message>
        <source>%1 再次使用了总线名 %2（%3 已用过）；每条总线的名字必须不同，不区分大小写。</source>
        <translation>%1 names the bus %2 a second time (as %3 does); each bus needs a name of its own, whatever its case.</translation>
    </message>
    <message>
        <source>%1 必须是配置文件的路径（相对于工程文件所在的文件夹），而不是 %2。</source>
        <translation>%1 must be the path of a panel file, relative to the site file&apos;s folder, not %2.</translation>
    </message>
    <message>
        <source>%1 再次给出了配置文件 %2（%3 已给出）。</source>
        <translation>%1 names the panel file %2 a second time (as %3 does).</translation>
    </message>
    <message>
        <source>%1 的串口 %2 无效：串口应为 1 到 %3 之间的整数、串口设备名（例如 COM3、ttyUSB0）、路径（例如 /dev/ttyUSB0）、tcp://主机:端口、rfc2217://主机:端口，或 usb:序列号。</source>
        <translation>The port %2 of %1 is not valid: give a number 1 to %3, a device name (COM3, ttyUSB0), a path (/dev/ttyUSB0), tcp://HOST:PORT, rfc2217://HOST:PORT or usb:SERIAL.</translation>
    </message>
    <message>
        <source>总线 %1 的%2 给出的配置文件 %3 也由总线 %4 的%5 给出；一个配置文件只描述一条总线上的一个模块。</source>
        <translation>%2 of bus %1 names the panel file %3 that %5 of bus %4 names too; a panel file describes one module, on one bus.</translation>
    </message>
    <message>
        <source>总线 %1 的%2 %3 与总线 %4 的%5 %6 是同一个设备；每条总线必须有自己的串口。</source>
        <translation>%2 %3 of bus %1 is the same device as %5 %6 of bus %4; each bus needs a port of its own.</translation>
    </message>
    <message>
        <source>工程中没有名为 %1 的总线。</source>
        <translation>The site has no bus named %1.</translation>
    </message>
    <message>
        <source>无法读取配置文件 %1（%2）：%3</source>
        <translation>Cannot read the panel file %1 (%2): %3</translation>
    </message>
    <message>
        <source>配置文件 %1（%2）过大（配置文件不超过 %3 KiB）。</source>
        <translation>The panel file %1 (%2) is too large (a panel file is at most %3 KiB).</translation>
    </message>
    <message>
        <source>配置文件 %1（%2）有误：%3</source>
        <translation>The panel file %1 (%2) is wrong: %3</translation>
    </message>
    <message>
        <source>配置文件 %1 和 %2 的模块自身地址都是 %3（总线 %4）；同一条总线上每个模块只能有一个配置文件。</source>
        <translation>The panel files %1 and %2 both have module address %3 (bus %4); each module of a bus needs a panel file of its own.</translation>
    </message>
    <message>
        <source>无法打开工程文件 %1：%2</source>
        <translation>Cannot open the site file %1: %2</translation>
    </message>
    <message>
        <source>相同</source>
        <translation>same</translation>
    </message>
    <message>
        <source>不同</source>
        <translation>different</translation>
    </message>
    <message>
        <source>无应答</source>
        <translation>missing</translation>
    </message>
    <message>
        <source>未登记</source>
        <translation>unexpected</translation>
    </message>
    <message>
        <source>未改动</source>
        <translation>unchanged</translation>
    </message>
    <message>
        <source>已写入</source>
        <translation>written</translation>
    </message>
    <message>
        <source>失败</source>
        <translation>failed</translation>
    </message>
    <message>
        <source>已中断</source>
        <translation>interrupted</translation>
    </message>
    <message>
        <source>未进行</source>
        <translation>not reached</translation>
    </message>
    <message>
        <source>已读取</source>
        <translation>read</translation>
    </message>
    <message>
        <source>%1：原为 %2，改为 %3</source>
        <translation>%1: was %2, now %3</translation>
    </message>
    <message>
        <source>%1：计划 %2，实际 %3</source>
        <translation>%1: planned %2, found %3</translation>
    </message>
    <message>
        <source>%1 秒内没有应答</source>
        <translation>no reply within %1 s</translation>
    </message>
    <message>
        <source>读取%1时，%2</source>
        <translation>%2 to the read of %1</translation>
    </message>
    <message>
        <source>刷新周期 %1</source>
        <translation>refresh period %1</translation>
    </message>
    <message>
        <source>读回的配置与配置文件不同</source>
        <translation>read back different from its panel file</translation>
    </message>
    <message>
        <source>扫描时有应答，之后</source>
        <translation>answered the scan, then </translation>
    </message>
    <message>
        <source>%1%2时，%3</source>
        <translation>%3 to the %1 of %2</translation>
    </message>
    <message>
        <source>在读取%1时停止，尚未写入任何数据</source>
        <translation>stopped during the read of %1, before anything was written</translation>
    </message>
    <message>
        <source>在写入%1时被打断：部分记录可能已是配置文件的值，其余仍是原来的值</source>
        <translation>cut off during the write of %1: some records may hold the panel file&apos;s values, the others what they held before</translation>
    </message>
    <message>
        <source>已写入，在读回%1时停止：未经校验</source>
        <translation>written, then stopped during the read-back of %1: not verified</translation>
    </message>
    <message>
        <source>；</source>
        <translation>; </translation>
    </message>
    <message>
        <source>%1 ms（%2–%3）</source>
        <translation>%1 ms (%2–%3)</translation>
    </message>
    <message>
        <source>没有插入序列号为 %1 的 USB 适配器</source>
        <translation>no USB adapter with serial number %1 is plugged in</translation>
    </message>
    <message>
        <source>有 %1 个适配器的序列号都是 %2（%3）；请在工程文件中改用串口名</source>
        <translation>%1 adapters have serial number %2 (%3); name the port in the site file instead</translation>
    </message>
    <message>
        <source>、</source>
        <translation>, </translation>
    </message>
    <message>
        <source>%1 就是 %2，也是总线 %3 的串口</source>
        <translation>%1 is %2, the port of bus %3 too</translation>
    </message>
    <message>
        <source>核对已停止</source>
        <translation>Check stopped</translation>
    </message>
    <message>
        <source>核对完毕</source>
        <translation>Check done</translation>
    </message>
    <message>
        <source>写入已停止</source>
        <translation>Write stopped</translation>
    </message>
    <message>
        <source>写入完毕</source>
        <translation>Write done</translation>
    </message>
    <message>
        <source>读取已停止</source>
        <translation>Read stopped</translation>
    </message>
    <message>
        <source>读取完毕</source>
        <translation>Read done</translation>
    </message>
    <message>
        <source>%1 条总线</source>
        <translation>%1 bus(es)</translation>
    </message>
    <message>
        <source>（%1 条无法连接）</source>
        <translation> (%1 not reached)</translation>
    </message>
    <message>
        <source>%1：%2，%3 个模块</source>
        <translation>%1: %2, %3 module(s)</translation>
    </message>
    <message>
        <source>（%1）</source>
        <translation> (%1)</translation>
    </message>
    <message>
        <source>工程文件和配置文件</source>
        <translation>The site file and panel files</translation>
    </message>
    <message>
        <source>配置文件</source>
        <translation>Panel files</translation>
    </message>
    <message>
        <source>已改变，已重新读取：</source>
        <translation> changed and were read again: </translation>
    </message>
    <message>
        <source>先在主窗口中关闭串口 </source>
        <translation>First close the main window&apos;s port </translation>
    </message>
    <message>
        <source>

写入前会先读取每个模块，已与配置文件一致的模块不会写入。
每个写入的模块都记入审计日志 %1。</source>
        <translation>

Each module is read before the write; a module that already matches its panel file is not written.
Every module written is recorded in the audit log %1.</translation>
    </message>
    <message>
        <source>  %1：%2 个，地址 %3</source>
        <translation>  %1: %2, at %3</translation>
    </message>
    <message>
        <source>将写入上次核对中有差异的 %1 个模块，在 %2 条总线上：
</source>
        <translation>This writes the %1 module(s) that differed in the last check, on %2 bus(es):
</translation>
    </message>
    <message>
        <source>  %1：%2 个模块</source>
        <translation>  %1: %2 module(s)</translation>
    </message>
    <message>
        <source>上次核对没有发现有差异的模块。</source>
        <translation>The last check found no module that differs.</translation>
    </message>
    <message>
        <source>尚未核对，还不知道哪些模块有差异。</source>
        <translation>Not checked yet: which modules differ is not known.</translation>
    </message>
    <message>
        <source>将读取 %1 条总线上的 %2 个模块，只写入与配置文件不同的模块：
</source>
        <translation>This reads the %2 module(s) on %1 bus(es) and writes only those that differ from their panel files:
</translation>
    </message>
    <message>
        <source>总线 </source>
        <translation>bus </translation>
    </message>
    <message>
        <source> 的模块 </source>
        <translation>, module </translation>
    </message>
    <message>
        <source>（</source>
        <translation> (</translation>
    </message>
    <message>
        <source>）</source>
        <translation>)</translation>
    </message>
    <message>
        <source>关闭工程窗口时写入还没有完成，写入已停止。
已写入 %1 个模块。</source>
        <translation>The site window was closed before the write had finished; the write stopped.
%1 module(s) written.</translation>
    </message>
    <message>
        <source>
%1 个模块在写入中途被打断，可能只写入了部分记录：</source>
        <translation>
%1 module(s) cut off during the write may hold only some records: </translation>
    </message>
    <message>
        <source>。</source>
        <translation>.</translation>
    </message>
    <message>
        <source>
%1 个模块已写入，但读回时被打断，未经校验：</source>
        <translation>
%1 module(s) written but cut off during the read-back, not verified: </translation>
    </message>
    <message>
        <source>
已在审计日志 </source>
        <translation>
Logged as interrupted in the audit log </translation>
    </message>
    <message>
        <source> 中记为 interrupted。</source>
        <translation>.</translation>
    </message>
    <message>
        <source>
其中 %1 个已在审计日志 </source>
        <translation>
%1 of them logged as interrupted in the audit log </translation>
    </message>
    <message>
        <source>
%1 个模块在写入任何数据之前停止，没有写入。</source>
        <translation>
%1 module(s) stopped before anything was written.</translation>
    </message>
    <message>
        <source>
请重新打开工程，核对后再写入。</source>
        <translation>
Open the site again and check it before writing.</translation>
    </message>
    <message>
        <source>线路干扰严重：扫描复查时还有 %1 个可疑地址未查就停止了，可能漏掉了模块（请检查接线、终端电阻和屏蔽）</source>
        <translation>the line is noisy: the scan&apos;s second look stopped with %1 suspect address(es) unchecked; a module may have been missed (check the wiring, termination and shielding)</translation>
    </message>
    <message>
        <source>扫描时有 %1 个应答出现乱码，可能漏掉了模块</source>
        <translation>%1 reply(s) arrived garbled in the scan; a module may have been missed</translation>
    </message>
    <message>
        <source>无法打开审计日志 %1：%2
没有发送任何数据，没有写入任何模块。</source>
        <translation>Cannot open the audit log %1: %2
Nothing was sent; no module was written.</translation>
    </message>
    <message>
        <source>无法写入审计日志 %1：%2
写入已全部停止。</source>
        <translation>Cannot write the audit log %1: %2
The whole write stopped.</translation>
    </message>
    <message>
        <source>无法保存报告 %1：%2</source>
        <translation>Cannot save the report %1: %2</translation>
    </message>
    <message>
        <source>写入报告</source>
        <translation>Write report</translation>
    </message>
    <message>
        <source>核对报告</source>
        <translation>Check report</translation>
    </message>
    <message>
        <source>打开工程文件</source>
        <translation>Open site file</translation>
    </message>
    <message>
        <source>保存报告</source>
        <translation>Save report</translation>
    </message>
    <message>
        <source>工程文件 (*.json);;所有文件 (*)</source>
        <translation>Site files (*.json);;All files (*)</translation>
    </message>
    <message>
        <source>HTML 报告 (*.html);;所有文件 (*)</source>
        <translation>HTML reports (*.html);;All files (*)</translation>
    </message>
    <message>
        <source>串口无法打开</source>
        <translation>port not opened</translation>
    </message>
    <message>
        <source>串口已断开</source>
        <translation>port lost</translation>
    </message>
    <message>
        <source>%1 个问题</source>
        <translation>%1 problem(s)</translation>
    </message>
    <message>
        <source>已停止，</source>
        <translation>stopped, </translation>
    </message>
    <message>
        <source>已停止</source>
        <translation>stopped</translation>
    </message>
    <message>
        <source>完成</source>
        <translation>done</translation>
    </message>
    <message>
        <source>报告中是否附上竣工资料（每个模块的 16 个按键、刷新周期和配置文件）？</source>
        <translation>Add the as-built pages to the report (every module&apos;s 16 keys, refresh period and panel file)?</translation>
    </message>
    <message>
        <source>附上竣工资料</source>
        <translation>Add as-built pages</translation>
    </message>
    <message>
        <source>只保存报告</source>
        <translation>Report only</translation>
    </message>
    <message>
        <source>只看问题 (Ctrl+P)</source>
        <translation>Problems only (Ctrl+P)</translation>
    </message>
    <message>
        <source>只显示有问题或已写入的总线和模块：不同、失败、无应答、未登记、未完成、线路警告、已写入</source>
        <translation>Show only the buses and modules with something to say: different, failed, missing, unexpected, not finished, line warnings, written</translation>
    </message>
    <message>
        <source>F8 下一个问题，Shift+F8 上一个问题</source>
        <translation>F8 next problem, Shift+F8 previous</translation>
    </message>
</context>
<context>
    <name>site_window</name>
    <message>
        <source>正在读取</source>
        <translation>Reading</translation>
    </message>
    <message>
        <source>正在写入</source>
        <translation>Writing</translation>
    </message>
    <message>
        <source>正在读回</source>
        <translation>Reading back</translation>
    </message>
    <message>
        <source>总线和模块</source>
        <translation>Buses and modules</translation>
    </message>
    <message>
        <source>地址</source>
        <translation>Address</translation>
    </message>
    <message>
        <source>配置文件</source>
        <translation>Panel file</translation>
    </message>
    <message>
        <source>状态</source>
        <translation>Status</translation>
    </message>
    <message>
        <source>差异</source>
        <translation>Differences</translation>
    </message>
    <message>
        <source>应答时间</source>
        <translation>Reply time</translation>
    </message>
    <message>
        <source>中位数（最短–最长），每条记录从请求发出到应答到达</source>
        <translation>Median (min–max), per record from the request sent to the reply received</translation>
    </message>
    <message>
        <source>核对(&amp;C)</source>
        <translation>&amp;Check</translation>
    </message>
    <message>
        <source>写入有差异的模块(&amp;W)</source>
        <translation>&amp;Write differing</translation>
    </message>
    <message>
        <source>保存报告…(&amp;R)</source>
        <translation>Save &amp;report…</translation>
    </message>
    <message>
        <source>载入主窗口(&amp;L)</source>
        <translation>&amp;Load in main window</translation>
    </message>
    <message>
        <source>停止</source>
        <translation>Stop</translation>
    </message>
    <message>
        <source>关闭</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>%1 条总线，%2。按“核对”读取每个模块，与配置文件比较。</source>
        <translation>%1 bus(es), %2. Click &quot;Check&quot; to read every module and compare it with its panel file.</translation>
    </message>
    <message>
        <source>串口 </source>
        <translation>Port </translation>
    </message>
    <message>
        <source>%1 的进度</source>
        <translation>Progress of %1</translation>
    </message>
    <message>
        <source>；</source>
        <translation>; </translation>
    </message>
    <message>
        <source>审计日志</source>
        <translation>audit log</translation>
    </message>
    <message>
        <source>写入</source>
        <translation>Write</translation>
    </message>
    <message>
        <source>正在核对</source>
        <translation>Checking</translation>
    </message>
    <message>
        <source>正在打开串口</source>
        <translation>Opening the port</translation>
    </message>
    <message>
        <source>扫描 %v/%m</source>
        <translation>scan %v/%m</translation>
    </message>
    <message>
        <source>模块 %v/%m</source>
        <translation>module %v/%m</translation>
    </message>
    <message>
        <source>……</source>
        <translation>…</translation>
    </message>
    <message>
        <source>等待确认证书</source>
        <translation>waiting for the certificate to be confirmed</translation>
    </message>
    <message>
        <source>日志头 sha256:</source>
        <translation>Log head sha256:</translation>
    </message>
    <message>
        <source>报告</source>
        <translation>report</translation>
    </message>
    <message>
        <source>
报告已保存：</source>
        <translation>
Report saved: </translation>
    </message>
</context>
<context>
    <name>window_texts</name>
    <message>
        <source>必须是 0 到 255 之间的整数</source>
        <translation>must be a whole number from 0 to 255</translation>
    </message>
    <message>
        <source>必须是 &quot;none&quot;、&quot;toggle&quot;、&quot;momentary&quot;、&quot;pulse&quot;、窗口中的一种操作文字，或 0 到 255 之间的整数</source>
        <translation>must be &quot;none&quot;, &quot;toggle&quot;, &quot;momentary&quot;, &quot;pulse&quot;, one of the window&apos;s operation texts, or a whole number from 0 to 255</translation>
    </message>
    <message>
        <source>成员 %1</source>
        <translation>member %1</translation>
    </message>
    <message>
        <source>必须是 1 到 16 之间的整数</source>
        <translation>must be a whole number from 1 to 16</translation>
    </message>
    <message>
        <source>必须是 &quot;%1&quot;</source>
        <translation>must be &quot;%1&quot;</translation>
    </message>
    <message>
        <source>必须是包含 16 项的数组，按键 1 到 16 各一项</source>
        <translation>must be an array of 16 entries, one for each key 1 to 16</translation>
    </message>
    <message>
        <source>，而不是 %1</source>
        <translation>, not %1</translation>
    </message>
    <message>
        <source>按键%1</source>
        <translation>key %1</translation>
    </message>
    <message>
        <source>刷新周期：窗口 %1，模块 %2</source>
        <translation>refresh period: window %1, module %2</translation>
    </message>
    <message>
        <source>%1 地址：窗口 %2，模块 %3</source>
        <translation>%1 address: window %2, module %3</translation>
    </message>
    <message>
        <source>%1 线路：窗口 %2，模块 %3</source>
        <translation>%1 line: window %2, module %3</translation>
    </message>
    <message>
        <source>%1 操作：窗口 %2，模块 %3</source>
        <translation>%1 operation: window %2, module %3</translation>
    </message>
    <message>
        <source>（无）</source>
        <translation>(none)</translation>
    </message>
    <message>
        <source>（代码 %1）</source>
        <translation>(code %1)</translation>
    </message>
    <message>
        <source>刷新周期（记录 0）</source>
        <translation>the refresh period (record 0)</translation>
    </message>
    <message>
        <source>按键%1（记录 %1）</source>
        <translation>key %1 (record %1)</translation>
    </message>
    <message>
        <source>模块没有应答：等待%1的应答已超过 %2 秒，传输已停止。
请检查模块地址、接线和模块电源，然后重试。</source>
        <translation>The module did not reply: no reply to %1 within %2 s; the transfer stopped.
Check the module address, the wiring and the module&apos;s power, then try again.</translation>
    </message>
    <message>
        <source>模块自身地址</source>
        <translation>The module address</translation>
    </message>
    <message>
        <source>刷新周期</source>
        <translation>The refresh period</translation>
    </message>
    <message>
        <source>按键%1 的地址</source>
        <translation>The key %1 address</translation>
    </message>
    <message>
        <source>按键%1 的线路</source>
        <translation>The key %1 line</translation>
    </message>
    <message>
        <source>%1必须是 0 到 255 之间的整数</source>
        <translation>%1 must be a whole number from 0 to 255</translation>
    </message>
    <message>
        <source>不是有效的 JSON 文件（%1）。</source>
        <translation>Not a valid JSON file (%1).</translation>
    </message>
    <message>
        <source>文件必须包含一个 JSON 对象。</source>
        <translation>The file must hold one JSON object.</translation>
    </message>
    <message>
        <source>%1 必须是一个对象%2。</source>
        <translation>%1 must be an object%2.</translation>
    </message>
    <message>
        <source>%1 不是配置文件的成员。</source>
        <translation>%1 is not a member of a configuration file.</translation>
    </message>
    <message>
        <source>%1 出现了两次；每个成员只能出现一次。</source>
        <translation>%1 is given twice; each member may appear once.</translation>
    </message>
    <message>
        <source>缺少%1；它%2。</source>
        <translation>%1 is missing; it %2.</translation>
    </message>
    <message>
        <source>%1 第二次给出了按键 %2；按键 1 到 16 各只能出现一次。</source>
        <translation>%1 gives key %2 a second time; each key 1 to 16 may appear once.</translation>
    </message>
    <message>
        <source>文件过大（配置文件不超过 %1 KiB）。</source>
        <translation>The file is too large (a configuration file is at most %1 KiB).</translation>
    </message>
    <message>
        <source>%1 %2%3。</source>
        <translation>%1 %2%3.</translation>
    </message>
    <message>
        <source>配置文件</source>
        <translation>configuration file</translation>
    </message>
    <message>
        <source>找不到文件所在的文件夹。</source>
        <translation>The file&apos;s folder does not exist.</translation>
    </message>
    <message>
        <source>找不到文件。</source>
        <translation>The file does not exist.</translation>
    </message>
    <message>
        <source>没有权限写入该文件或其所在的文件夹。</source>
        <translation>No permission to write the file or its folder.</translation>
    </message>
    <message>
        <source>没有权限读取该文件。</source>
        <translation>No permission to read the file.</translation>
    </message>
    <message>
        <source>这是一个文件夹，不是%1。</source>
        <translation>It is a folder; the %1 must be a regular file.</translation>
    </message>
    <message>
        <source>它不是普通文件（而是设备、管道或套接字），不能作为%1。</source>
        <translation>It is not a regular file (but a device, pipe or socket); the %1 must be one.</translation>
    </message>
    <message>
        <source>文件不可写（只读）。</source>
        <translation>The file is read-only.</translation>
    </message>
    <message>
        <source>磁盘已满（或已用完磁盘配额）。</source>
        <translation>The disk is full (or the disk quota is used up).</translation>
    </message>
    <message>
        <source>文件名太长。</source>
        <translation>The file name is too long.</translation>
    </message>
    <message>
        <source>文件所在的磁盘或文件系统是只读的。</source>
        <translation>The file&apos;s disk or file system is read-only.</translation>
    </message>
    <message>
        <source>写入文件时出错（系统原因：%1）。</source>
        <translation>Writing the file failed (system reason: %1).</translation>
    </message>
    <message>
        <source>读取文件时出错（系统原因：%1）。</source>
        <translation>Reading the file failed (system reason: %1).</translation>
    </message>
    <message>
        <source>文件可能已不完整。</source>
        <translation> The file may be incomplete.</translation>
    </message>
    <message>
        <source>模块 %1 中的配置与窗口中的完全一致。</source>
        <translation>Module %1 holds exactly what the window shows.</translation>
    </message>
    <message>
        <source>模块 %1 中的配置与窗口中有 %2 处不同：</source>
        <translation>Module %1 differs from the window in %2 place(s):</translation>
    </message>
    <message>
        <source>写入到模块</source>
        <translation>Write</translation>
    </message>
    <message>
        <source>从模块读取</source>
        <translation>Read</translation>
    </message>
    <message>
        <source>已写入 </source>
        <translation>Written </translation>
    </message>
    <message>
        <source>已读取 </source>
        <translation>Read </translation>
    </message>
    <message>
        <source>先打开串口，然后写入</source>
        <translation>Open the port first</translation>
    </message>
    <message>
        <source>数据量过大</source>
        <translation>Too much data</translation>
    </message>
    <message>
        <source>全部数据写入完毕</source>
        <translation>All data written</translation>
    </message>
    <message>
        <source>全部数据读取完毕</source>
        <translation>All data read</translation>
    </message>
    <message>
        <source>%1 项</source>
        <translation>%1 entries</translation>
    </message>
    <message>
        <source>%1，第 %2 行第 %3 列（第 %4 字节）处</source>
        <translation>%1 at line %2, column %3 (byte %4)</translation>
    </message>
</context>
</TS>
