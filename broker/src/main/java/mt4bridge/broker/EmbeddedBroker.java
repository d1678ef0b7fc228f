package mt4bridge.broker;

import java.io.File;
import java.net.BindException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.StandardCopyOption;
import java.util.ArrayList;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;

import org.apache.activemq.broker.BrokerPlugin;
import org.apache.activemq.broker.BrokerService;
import org.apache.activemq.broker.TransportConnector;
import org.apache.activemq.broker.region.policy.IndividualDeadLetterStrategy;
import org.apache.activemq.broker.region.policy.PolicyEntry;
import org.apache.activemq.broker.region.policy.PolicyMap;
import org.apache.activemq.filter.DestinationMapEntry;
import org.apache.activemq.security.AuthenticationUser;
import org.apache.activemq.security.AuthorizationEntry;
import org.apache.activemq.security.AuthorizationPlugin;
import org.apache.activemq.security.DefaultAuthorizationMap;
import org.apache.activemq.security.SimpleAuthenticationPlugin;
import org.apache.activemq.store.kahadb.KahaDBPersistenceAdapter;

/**
 * The test and benchmark broker: ActiveMQ Classic started in-process with an
 * AMQP 1.0 and an OpenWire connector on the loopback interface, a persistent
 * KahaDB store in the folder the caller names, no JMX and no web console.
 *
 * Arguments: data-dir amqp-port openwire-port [user password] [key=value ...].
 * With a user and password every client must authenticate (SASL PLAIN on
 * AMQP). Each key=value argument turns on one further feature; an unknown
 * key stops the launcher (exit 2) rather than start a broker the caller did
 * not ask for.
 *
 * Port 0 lets the connector bind a free port itself. Once every connector
 * is listening, the ports bound are written to data-dir/ports (replaced at
 * once, never seen half written), one name=port line per connector: amqp,
 * openwire, and for an option namePort=N (amqpsPort, stompPort) the name.
 * A port that is already taken ends the launcher with exit status 3, any
 * other failure to start with 1.
 * Runs until the process is terminated; the shutdown hook stops the broker
 * cleanly so the store is consistent for the next start.
 */
public final class EmbeddedBroker {
    private EmbeddedBroker() {}

    public static void main(String[] args) throws Exception {
        List<String> positional = new ArrayList<>();
        Map<String, String> options = new LinkedHashMap<>();
        for (String arg : args) {
            int eq = arg.indexOf('=');
            if (positional.size() >= 3 && eq > 0) {
                options.put(arg.substring(0, eq), arg.substring(eq + 1));
            } else {
                positional.add(arg);
            }
        }
        if (positional.size() != 3 && positional.size() != 5) {
            System.err.println("usage: EmbeddedBroker data-dir amqp-port openwire-port [user password] [key=value ...]");
            System.exit(2);
        }
        File dataDir = new File(positional.get(0)).getAbsoluteFile();
        int amqpPort = port("amqp-port", positional.get(1));
        int openwirePort = port("openwire-port", positional.get(2));
        // The connectors by the name the ports file gives them.
        Map<String, TransportConnector> connectors = new LinkedHashMap<>();

        BrokerService broker = new BrokerService();
        broker.setBrokerName("mt4bridge");
        broker.setDataDirectoryFile(dataDir);
        broker.setPersistent(true);
        broker.setUseJmx(false);
        broker.setSchedulerSupport(false);
        broker.setUseShutdownHook(true);

        KahaDBPersistenceAdapter store = new KahaDBPersistenceAdapter();
        store.setDirectory(new File(dataDir, "kahadb"));
        broker.setPersistenceAdapter(store);

        // Small limits: the broker runs beside the tests in a small heap.
        broker.getSystemUsage().getMemoryUsage().setLimit(64L * 1024 * 1024);
        broker.getSystemUsage().getStoreUsage().setLimit(1024L * 1024 * 1024);
        broker.getSystemUsage().getTempUsage().setLimit(256L * 1024 * 1024);

        // AMQP messages are mapped to JMS ones (an AMQP string body is a
        // TextMessage for OpenWire clients); see the amqp connector below.
        // A message that fails delivery repeatedly goes to its own
        // DLQ.<queue> instead of circling for ever.
        PolicyEntry queues = new PolicyEntry();
        queues.setQueue(">");
        IndividualDeadLetterStrategy dlq = new IndividualDeadLetterStrategy();
        dlq.setQueuePrefix("DLQ.");
        dlq.setUseQueueForQueueMessages(true);
        queues.setDeadLetterStrategy(dlq);
        PolicyMap policies = new PolicyMap();
        policies.setDefaultEntry(queues);
        broker.setDestinationPolicy(policies);

        // Users: the positional user (group "users"), and with
        // security=FILE the users and per-destination rights of an ActiveMQ
        // <plugins> snippet (deploy/activemq.xml), its ${name} placeholders
        // filled from securityProperties=FILE as ActiveMQ fills them from
        // credentials.properties. Without an entry a destination is closed.
        String security = options.remove("security");
        String securityProperties = options.remove("securityProperties");
        if (positional.size() == 5 || security != null) {
            List<AuthenticationUser> users = new ArrayList<>();
            if (positional.size() == 5) {
                users.add(new AuthenticationUser(positional.get(3), positional.get(4), "users"));
            }
            List<DestinationMapEntry> rights = new ArrayList<>();
            if (security != null) {
                try {
                    SecuritySnippet.load(new File(security), securityProperties, users, rights);
                } catch (Exception e) {
                    System.err.println("EmbeddedBroker: security=" + security + ": " + e);
                    System.exit(2);
                }
            }
            SimpleAuthenticationPlugin auth = new SimpleAuthenticationPlugin(users);
            auth.setAnonymousAccessAllowed(false);
            broker.setPlugins(security == null ? new BrokerPlugin[] {auth}
                    : new BrokerPlugin[] {auth, new AuthorizationPlugin(new DefaultAuthorizationMap(rights))});
        }

        connectors.put("amqp", listen(broker, "amqp://127.0.0.1:" + amqpPort
                + "?maximumConnections=1000&transport.transformer=jms&transport.tcpNoDelay=true"));

        // amqpsPort=N keystore=FILE keystorePassword=P: one more AMQP
        // connector, over TLS, with the key and certificate of the PKCS12
        // keystore (the broker's SslContext, as <sslContext> in activemq.xml).
        String amqpsPort = options.remove("amqpsPort");
        String keystore = options.remove("keystore");
        String keystorePassword = options.remove("keystorePassword");
        if (amqpsPort != null) {
            if (keystore == null || keystorePassword == null) {
                System.err.println("EmbeddedBroker: amqpsPort needs keystore and keystorePassword");
                System.exit(2);
            }
            java.security.KeyStore keys = java.security.KeyStore.getInstance("PKCS12");
            try (java.io.FileInputStream in = new java.io.FileInputStream(keystore)) {
                keys.load(in, keystorePassword.toCharArray());
            }
            javax.net.ssl.KeyManagerFactory kmf = javax.net.ssl.KeyManagerFactory.getInstance(
                    javax.net.ssl.KeyManagerFactory.getDefaultAlgorithm());
            kmf.init(keys, keystorePassword.toCharArray());
            broker.setSslContext(new org.apache.activemq.broker.SslContext(
                    kmf.getKeyManagers(), null, null));
            connectors.put("amqps", listen(broker, "amqp+ssl://127.0.0.1:"
                    + port("amqpsPort", amqpsPort)
                    + "?maximumConnections=1000&transport.transformer=jms&transport.tcpNoDelay=true"));
        }
        connectors.put("openwire", listen(broker,
                "tcp://127.0.0.1:" + openwirePort + "?transport.tcpNoDelay=true"));
        // STOMP on loopback: stompPort=N.
        String stompPort = options.remove("stompPort");
        if (stompPort != null) {
            connectors.put("stomp", listen(broker, "stomp://127.0.0.1:"
                    + port("stompPort", stompPort) + "?transport.tcpNoDelay=true"));
        }

        // Options are taken off the map as they are applied; what is left is
        // a key no block knows.
        if (!options.isEmpty()) {
            System.err.println("EmbeddedBroker: unknown option(s) " + options.keySet());
            System.exit(2);
        }

        try {
            broker.start();
        } catch (Exception e) {
            failed(e);
        }
        broker.waitUntilStarted();
        StringBuilder ports = new StringBuilder();
        for (Map.Entry<String, TransportConnector> c : connectors.entrySet()) {
            ports.append(c.getKey()).append('=')
                    .append(c.getValue().getServer().getSocketAddress().getPort()).append('\n');
        }
        Path file = dataDir.toPath().resolve("ports");
        Path part = dataDir.toPath().resolve("ports.part");
        Files.writeString(part, ports);
        Files.move(part, file, StandardCopyOption.ATOMIC_MOVE, StandardCopyOption.REPLACE_EXISTING);
        System.out.println("broker started " + ports.toString().trim().replace('\n', ' '));
        System.out.flush();
        broker.waitUntilStopped();
    }

    // A port argument: 0 (any free port) to 65535; anything else stops the
    // launcher (exit 2).
    private static int port(String name, String text) {
        try {
            int port = Integer.parseInt(text);
            if (port >= 0 && port <= 65535) {
                return port;
            }
        } catch (NumberFormatException e) {
            // reported below
        }
        System.err.println("EmbeddedBroker: " + name + " must be a port number (0 for any free port): "
                + text);
        System.exit(2);
        return -1;
    }

    // A connector, listening from here on (its port is bound at once).
    private static TransportConnector listen(BrokerService broker, String uri) {
        try {
            return broker.addConnector(uri);
        } catch (Exception e) {
            failed(e);
            return null;
        }
    }

    private static void failed(Exception e) {
        boolean portTaken = false;
        for (Throwable t = e; t != null; t = t.getCause()) {
            portTaken |= t instanceof BindException;
        }
        System.err.println("EmbeddedBroker: could not start: " + e);
        System.exit(portTaken ? 3 : 1);
    }
}

/**
 * Reads the users and rights of an ActiveMQ {@code <plugins>} snippet with a
 * simpleAuthenticationPlugin and an authorizationPlugin, the way ActiveMQ's
 * own XML configuration sets them. An element or attribute it does not know
 * is refused, so the snippet cannot hold a setting the test broker would
 * silently leave out.
 */
final class SecuritySnippet {
    private static final Map<String, List<String>> KNOWN = Map.of(
            "plugins", List.of(),
            "simpleAuthenticationPlugin", List.of("anonymousAccessAllowed"),
            "users", List.of(),
            "authenticationUser", List.of("username", "password", "groups"),
            "authorizationPlugin", List.of(),
            "map", List.of(),
            "authorizationMap", List.of(),
            "authorizationEntries", List.of(),
            "authorizationEntry", List.of("queue", "topic", "read", "write", "admin"));

    private SecuritySnippet() {}

    static void load(File xml, String propertiesFile, List<AuthenticationUser> users,
                     List<DestinationMapEntry> rights) throws Exception {
        java.util.Properties values = new java.util.Properties();
        if (propertiesFile != null) {
            try (java.io.Reader in = new java.io.FileReader(propertiesFile)) {
                values.load(in);
            }
        }
        javax.xml.parsers.DocumentBuilderFactory factory =
                javax.xml.parsers.DocumentBuilderFactory.newInstance();
        factory.setNamespaceAware(true);
        org.w3c.dom.Document doc = factory.newDocumentBuilder().parse(xml);
        org.w3c.dom.NodeList all = doc.getElementsByTagName("*");
        for (int i = 0; i < all.getLength(); i++) {
            org.w3c.dom.Element e = (org.w3c.dom.Element) all.item(i);
            String name = e.getLocalName();
            List<String> attributes = KNOWN.get(name);
            if (attributes == null) {
                throw new IllegalArgumentException(xml + ": unknown element <" + name + ">");
            }
            org.w3c.dom.NamedNodeMap given = e.getAttributes();
            for (int a = 0; a < given.getLength(); a++) {
                String attribute = given.item(a).getNodeName();
                if (!attribute.startsWith("xmlns") && !attributes.contains(attribute)) {
                    throw new IllegalArgumentException(
                            xml + ": unknown attribute " + attribute + " of <" + name + ">");
                }
            }
            if (name.equals("simpleAuthenticationPlugin")
                    && !"false".equals(e.getAttribute("anonymousAccessAllowed"))) {
                throw new IllegalArgumentException(xml + ": anonymousAccessAllowed must be false");
            }
            if (name.equals("authenticationUser")) {
                users.add(new AuthenticationUser(value(e, "username", values),
                        value(e, "password", values), value(e, "groups", values)));
            } else if (name.equals("authorizationEntry")) {
                AuthorizationEntry entry = new AuthorizationEntry();
                if (e.hasAttribute("queue")) {
                    entry.setQueue(value(e, "queue", values));
                } else {
                    entry.setTopic(value(e, "topic", values));
                }
                entry.setRead(value(e, "read", values));
                entry.setWrite(value(e, "write", values));
                entry.setAdmin(value(e, "admin", values));
                rights.add(entry);
            }
        }
    }

    // The attribute with its ${name} placeholders filled in; a placeholder
    // without a value is an error, as in ActiveMQ.
    private static String value(org.w3c.dom.Element e, String attribute, java.util.Properties values) {
        String text = e.getAttribute(attribute);
        java.util.regex.Matcher m = java.util.regex.Pattern.compile("\\$\\{([^}]*)\\}").matcher(text);
        StringBuilder out = new StringBuilder();
        while (m.find()) {
            String v = values.getProperty(m.group(1));
            if (v == null) {
                throw new IllegalArgumentException("no value for ${" + m.group(1) + "}");
            }
            m.appendReplacement(out, java.util.regex.Matcher.quoteReplacement(v));
        }
        m.appendTail(out);
        return out.toString();
    }
}
